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
  uint64_t size = 0;
  int64_t mtime = 0;  // seconds since 1970
  uint64_t volume = 0, file_id = 0;  // which file it is, through any name; 0 when unknown
};

FileFacts host_stat(const std::string &path, std::string *error);
// Names in a directory (without "." and ".."), unsorted; false with error set.
bool host_list(const std::string &dir, std::vector<std::string> *names, std::string *error);
// UTF-8 text in the Windows code page; false when a character has no place in it.
bool host_to_codepage(const std::string &utf8, unsigned codepage, std::string *out);
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
