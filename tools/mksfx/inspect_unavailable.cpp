// --list and --test run the stub's own code over the POSIX stand-in, which
// only the Linux build has.
#include "extract.h"
#include "inspect.h"

int inspect_archive(const char *, bool, bool, bool, std::string *error) {
  *error = "--list and --test are available in the Linux build of mksfx only";
  return 2;
}

int extract_archive(const char *, const std::string &, Overwrite, bool, std::string *error) {
  *error = "--extract is in the Linux build only";
  return 2;
}

int check_for_wrapping(const char *, uint16_t *, std::string *error) {
  *error = "--from-archive is in the Linux build only";
  return 2;
}

uint64_t archive_data_bytes(const char *) { return 0; }
