#include "member_stream.h"
#include <cerrno>
#include <cstring>
#include "lzh_encoder.h"

Spool::~Spool() {
  if (file_) fclose(file_);
}

bool Spool::append(const uint8_t *data, size_t size) {
  if (!error.empty()) return false;
  if (!file_ && !(file_ = host_spool(&error))) return false;
  if (fwrite(data, 1, size, file_) != size) {
    error = std::string("temporary file: ") + strerror(errno ? errno : EIO);
    return false;
  }
  end_ += size;
  return true;
}

void Spool::cut(uint64_t offset) {
  if (file_ && error.empty() && (fflush(file_) != 0 || !host_seek(file_, offset)))
    error = std::string("temporary file: ") + strerror(errno ? errno : EIO);
  end_ = offset;
}

size_t Spool::read(uint8_t *data, size_t size) {
  if (!file_) return 0;
  if (!reading_) reading_ = true, rewind(file_);
  return fread(data, 1, size, file_);
}

namespace {

FILE *open_input(const std::string &path, std::string *error) {
  FILE *f = host_fopen(path, "rb");
  if (!f) *error = path + ": " + strerror(errno);
  return f;
}

// Reads the whole file a piece at a time, handing each piece to `take`.
// False with *error set when it cannot be read or reaches 4 GiB, which a
// member's size field cannot hold.
template <class Take>
bool read_pieces(const std::string &path, uint64_t *size, std::string *error, Take take) {
  FILE *f = open_input(path, error);
  if (!f) return false;
  std::vector<uint8_t> buffer(READ_PIECE);
  *size = 0;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), f)) > 0 && (*size += n) < 0x100000000ull) take(buffer.data(), n);
  bool failed = ferror(f);
  fclose(f);
  if (failed) *error = path + ": read error";
  else if (*size >= 0x100000000ull) *error = path + ": 4 GiB or larger";
  return error->empty();
}

}  // namespace

void pack_file(const Member &m, const std::string &source, char letter, const Effort &effort,
               std::shared_ptr<Spool> *spool, PackedMember *packed) {
  if (m.directory) {
    packed->bytes = pack_member(m, nullptr, 0, letter, &packed->crc);
    return;
  }
  const MethodParams *params = method_params(letter);
  if (params && !*spool) *spool = std::make_shared<Spool>();
  Spool *to = spool->get();
  const uint64_t spooled_from = to ? to->end() : 0;
  std::unique_ptr<LzhStream> stream;
  if (params)
    stream.reset(new LzhStream(*params, effort, [to](const uint8_t *data, size_t n) { to->append(data, n); }));
  uint16_t crc = 0;
  uint64_t size = 0;
  bool read = read_pieces(source, &size, &packed->error, [&](const uint8_t *data, size_t n) {
    crc = crc16(data, n, crc);
    if (stream) stream->write(data, n);
    else if (lzh_encode_progress) *lzh_encode_progress += n;  // no encoder to count it
  });
  if (!read) {
    if (to) to->cut(spooled_from);
    return;
  }
  if (stream) stream->finish();
  if (to && !to->error.empty()) {
    packed->error = to->error;
    return;
  }
  packed->crc = crc;
  packed->size = size;
  uint64_t compressed = to ? to->end() - spooled_from : 0;
  if (params && compressed < size) {
    char method[] = "-lh?-";
    method[3] = letter;
    packed->bytes = member_header(m, method, compressed, (uint32_t)size, crc);
    packed->size = compressed;
    packed->spool = *spool;
    return;
  }
  if (to) to->cut(spooled_from);  // the next member's data takes its place
  packed->bytes = member_header(m, "-lh0-", size, (uint32_t)size, crc);
  packed->source = source;
}

namespace {

// Hands out the output a piece at a time; a stored member's file must read
// back as it was packed.
struct Writer {
  std::vector<uint8_t> head;
  std::vector<PackedMember> members;
  size_t next = 0;             // the member whose data comes next
  bool data = false;           // its header is out, its data is not
  uint64_t left = 0;           // of its data
  FILE *input = nullptr;       // its file, when stored
  uint16_t crc = 0;

  ~Writer() {
    if (input) fclose(input);
  }

  bool piece(std::vector<uint8_t> *out, std::string *error) {
    if (!head.empty()) {
      out->swap(head);
      head.clear();
      return true;
    }
    if (!data) {
      if (next == members.size()) return false;
      PackedMember &m = members[next];
      out->swap(m.bytes);
      m.bytes.clear();
      data = true, left = m.size, crc = 0;
      if (!m.source.empty()) return (input = open_input(m.source, error)) != nullptr;
      if (left == 0) data = false, ++next;  // all of it was in the header's piece
      return true;
    }
    PackedMember &m = members[next];
    out->resize((size_t)std::min<uint64_t>(left, READ_PIECE));
    size_t n = out->empty() ? 0 : input ? fread(out->data(), 1, out->size(), input) : m.spool->read(out->data(), out->size());
    if (n != out->size()) {
      *error = input ? m.source + ": changed while it was packed" : "temporary file: read error";
      return false;
    }
    left -= n;
    if (input) crc = crc16(out->data(), n, crc);
    if (left == 0) {
      if (input) {
        bool longer = fgetc(input) != EOF;
        fclose(input);
        input = nullptr;
        if (longer || crc != m.crc) {
          *error = m.source + ": changed while it was packed";
          return false;
        }
      }
      m.spool.reset();
      data = false, ++next;
    }
    return true;
  }
};

}  // namespace

Pieces output_pieces(std::vector<uint8_t> head, std::vector<PackedMember> members) {
  auto writer = std::make_shared<Writer>();
  writer->head = std::move(head);
  writer->members = std::move(members);
  return [writer](std::vector<uint8_t> *piece, std::string *error) { return writer->piece(piece, error); };
}
