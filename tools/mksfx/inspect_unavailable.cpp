// --list and --test run the stub's own code over the POSIX stand-in, which
// only the Linux build has.
#include "inspect.h"

int inspect_archive(const char *, bool, std::string *error) {
  *error = "--list and --test are available in the Linux build of mksfx only";
  return 2;
}
