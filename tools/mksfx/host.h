// What mksfx needs of the machine it runs on: file facts, directory
// listings, code page conversion, its own location and whole-or-nothing
// output. host_posix.cpp and host_win32.cpp implement it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
constexpr bool HOST_WINDOWS = true;
#else
constexpr bool HOST_WINDOWS = false;
#endif

struct FileFacts {
  bool exists = false, directory = false, regular = false, writable = true;
  bool dangling = false;  // a symbolic link to nothing (exists is false)
  uint64_t size = 0;
  int64_t mtime = 0;  // seconds since 1970
  uint64_t volume = 0, file_id = 0;  // which file it is, through any name; 0 when unknown
};

FileFacts host_stat(const std::string &path, std::string *error);
// Names in a directory (without "." and ".."), unsorted; false with error set.
bool host_list(const std::string &dir, std::vector<std::string> *names, std::string *error);
// UTF-8 text in the Windows code page; false when a character has no place in it.
bool host_to_codepage(const std::string &utf8, unsigned codepage, std::string *out);
// A shell pattern (*, ?, [...]) against a name; '*' matches '/' too, as in
// tar's --exclude.
bool host_match(const std::string &pattern, const std::string &name);
// Text in the Windows code page as UTF-8; a byte that makes no character stays as it is.
std::string host_from_codepage(const std::string &text, unsigned codepage);
// UTF-8 text in upper case, letter by letter, as Windows compares names.
std::string host_upper_case(const std::string &utf8);
// fopen for a UTF-8 path.
FILE *host_fopen(const std::string &path, const char *mode);
// The command line as UTF-8 (on Windows from the wide command line); standard
// output in UTF-8 too.
void host_utf8_arguments(int *argc, char ***argv);
std::string host_program_dir();  // with a trailing separator
// The output a piece at a time: each call puts the next piece in *piece and
// returns true, or returns false at the end (with *error set on a failure).
using Pieces = std::function<bool(std::vector<uint8_t> *piece, std::string *error)>;
// Writes the pieces, one after the other, to a temporary beside path and
// renames it over path.
bool host_write_whole(const std::string &path, const Pieces &pieces, std::string *error);
// A temporary file that nobody else can open and that goes when closed.
FILE *host_spool(std::string *error);
bool host_seek(FILE *file, uint64_t offset);
