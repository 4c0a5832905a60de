#pragma once
#include <string>
#include <cstdint>
// The code page of names: a self-extractor's mark, or names_code_page
// (--codepage) for a plain archive or an unmarked self-extractor; set by
// locate_archive.
extern unsigned names_code_page, archive_code_page;
// Where the archive starts: behind a self-extractor's header block, or at 0.
bool locate_archive(const char *path, uint32_t *offset, uint8_t *flags, std::string *error);
// Lists (test false) or tests every member; 0 only when every member checks.
int inspect_archive(const char *path, bool test, bool show_progress, bool verbose, std::string *error);
uint64_t archive_data_bytes(const char *path);  // the members' uncompressed sizes
// False, with error saying so, when what stands at offset is not an archive.
bool looks_like_archive(const char *path, uint32_t offset, std::string *error);
uint64_t stub_bytes_written();  // by the stub's code, ever: decoded for --test, extracted for --extract
// Before --from-archive: every member must be one the stub extracts as meant
// (level 2, a method it knows, its data whole, no ".." step); 0 and the
// integrity sum of its file CRCs, or 1 with error naming the member and why.
int check_for_wrapping(const char *path, uint16_t *sum, std::string *error);
// Where the stub puts a member of this path: below the destination, or, when
// the path names a place of its own, on a drive, at a root or in the
// directory a macro names.
enum class Place { below, drive, root, macro };
Place place_named_by(const std::string &member_path);
