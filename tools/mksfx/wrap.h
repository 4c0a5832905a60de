// --from-archive: the archive people have, made into the one the stub reads.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "archive_writer.h"

struct TakenArchive {
  std::vector<uint8_t> archive;  // level-2 members, without an integrity sum
  bool self_extractor = false;
  HeaderBlockFields block;       // a self-extractor's settings
  unsigned codepage = 0;         // a self-extractor's mark, 0 when it has none
};

// A self-extractor gives its archive and settings; level-0 and level-1
// members become level-2 members with the same data, name, times, attribute
// and operating-system identifier. False with error naming the member and why.
bool take_archive(const std::string &path, unsigned codepage, TakenArchive *out, std::string *error);
// The code page a --from-archive self-extractor was made for; 1252 otherwise.
unsigned wrapped_code_page(const std::string &path);
// take_archive, then the stub's own reading and decoding code over the
// archive as it will be; sum is the integrity sum of its file CRCs.
bool wrap_archive(const std::string &path, unsigned codepage, TakenArchive *out, uint16_t *sum, std::string *error);
// Settings given on the command line win; the rest are the self-extractor's.
HeaderBlockFields kept_settings(const HeaderBlockFields &given, const TakenArchive &taken);
