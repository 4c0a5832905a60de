// Members packed from their files a piece at a time, so that memory does not
// grow with the input: compressed data goes to a temporary file of the
// packing thread (its spool), and a member that does not shrink is read again
// from its file, and checked against what was packed, as the output is written.
#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <vector>
#include "archive_writer.h"
#include "host.h"

constexpr size_t READ_PIECE = 1 << 20;  // bytes read from a file at a time

// One packing thread's unnamed temporary file: its members follow each other
// in the order they were packed, which is the order they are written in.
class Spool {
 public:
  ~Spool();
  bool append(const uint8_t *data, size_t size);
  void cut(uint64_t offset);  // drops what follows offset
  size_t read(uint8_t *data, size_t size);  // the next bytes, from the start on
  uint64_t end() const { return end_; }
  std::string error;  // the first failure, when there was one

 private:
  FILE *file_ = nullptr;
  uint64_t end_ = 0;
  bool reading_ = false;
};

struct PackedMember {
  PackedMember(std::vector<uint8_t> all = {}, uint16_t file_crc = 0, std::string failure = {})
      : bytes(std::move(all)), crc(file_crc), error(std::move(failure)) {}
  std::vector<uint8_t> bytes;  // the header, and any data held here
  uint16_t crc = 0;
  std::string error;
  uint64_t size = 0;             // data bytes that follow `bytes`:
  std::shared_ptr<Spool> spool;  // next in this spool,
  std::string source;            // or, stored, read again from this file
};

// Packs the file `source` (nothing for a directory) as `member`: the data
// goes through the compressor into *spool, which is made when first needed.
// Sets packed->error when the file cannot be read.
void pack_file(const Member &member, const std::string &source, char method_letter, const Effort &effort,
               std::shared_ptr<Spool> *spool, PackedMember *packed);

// The output: `head` (the stub, or nothing), then every member, in order.
Pieces output_pieces(std::vector<uint8_t> head, std::vector<PackedMember> members);
