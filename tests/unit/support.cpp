#include "support.h"
#include <algorithm>
#include <fstream>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include "startup/startup.h"

std::vector<uint8_t> read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string &path, const std::vector<uint8_t> &data) {
  std::ofstream out(path, std::ios::binary);
  ASSERT_TRUE(out.write((const char *)data.data(), (std::streamsize)data.size())) << path;
}

void write_text(const std::string &path, const std::string &text) { write_file(path, {text.begin(), text.end()}); }
std::string read_text(const std::string &path) { std::vector<uint8_t> d = read_file(path); return {d.begin(), d.end()}; }
bool exists(const std::string &path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

std::vector<uint8_t> pattern_bytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 1;
  // Words from a small alphabet, so that the data compresses.
  for (size_t i = 0; i < size; ++i) x = x * 1103515245u + 12345u, out[i] = (uint8_t)("etaoin shrdlu\n"[(x >> 16) % 14]);
  return out;
}

TestMember file_member(const std::string &path, const std::string &text, char method) { return {path, {text.begin(), text.end()}, method}; }

std::vector<uint8_t> member_data(const TestMember &t, uint16_t *crc_out) {
  Member m;
  m.path = t.path;
  m.directory = t.method == 'd';
  m.time = t.time;
  m.attribute = t.attribute;
  const uint32_t times[3] = {t.creation, t.write, t.access};  // the builder's order
  for (int i = 0; i < 3; ++i) m.file_times[i] = file_time_of(times[i] ? times[i] : t.time);
  uint16_t crc = crc16(t.data.data(), t.data.size());
  if (crc_out) *crc_out = m.directory ? 0 : crc;
  if (m.directory) return member_bytes(m, "-lhd-", {}, 0, 0);
  if (t.method == '0') return member_bytes(m, "-lh0-", t.data, (uint32_t)t.data.size(), crc);
  return pack_member(m, t.data.data(), t.data.size(), t.method, &crc);
}

std::vector<uint8_t> archive_bytes(const std::vector<TestMember> &members, bool integrity_sum) {
  std::vector<uint8_t> out;
  uint16_t sum = 0;
  for (const TestMember &m : members) {
    uint16_t crc;
    std::vector<uint8_t> b = member_data(m, &crc);
    sum ^= crc, out.insert(out.end(), b.begin(), b.end());
  }
  put16(out, 0);
  if (integrity_sum) out.insert(out.begin(), {(uint8_t)sum, (uint8_t)(sum >> 8)});
  return out;
}

void put16(std::vector<uint8_t> &b, size_t v) { b.push_back((uint8_t)v), b.push_back((uint8_t)(v >> 8)); }
void put32(std::vector<uint8_t> &b, uint32_t v) { put16(b, v & 0xFFFF), put16(b, v >> 16); }

std::vector<uint8_t> raw_member(const Raw &r) {
  std::vector<uint8_t> h = {0, 0, '-', 'l', 'h', (uint8_t)r.method, '-'};
  put32(h, (uint32_t)(r.compressed < 0 ? r.data.size() : r.compressed));
  put32(h, (uint32_t)(r.original < 0 ? r.data.size() : r.original));
  put32(h, 1000000000);
  h.push_back(0x20), h.push_back(2);
  put16(h, r.file_crc >= 0 ? (size_t)r.file_crc : crc16((const uint8_t *)r.data.data(), r.data.size()));
  h.push_back('W');
  auto ext = [&](uint8_t type, const std::string &text) { put16(h, 3 + text.size()), h.push_back(type), h.insert(h.end(), text.begin(), text.end()); };
  if (r.header_crc) ext(0, std::string(2, '\0'));
  ext(1, r.name);
  if (!r.dir.empty()) ext(2, r.dir);
  h.insert(h.end(), r.extra.begin(), r.extra.end());
  put16(h, 0);
  h[0] = (uint8_t)h.size(), h[1] = (uint8_t)(h.size() >> 8);
  if (r.header_crc) set_header_crc(h);
  h.insert(h.end(), r.data.begin(), r.data.end());
  return h;
}

void set_header_crc(std::vector<uint8_t> &member) {
  member[27] = member[28] = 0;
  uint16_t crc = crc16(member.data(), member[0] | member[1] << 8);
  member[27] = (uint8_t)crc, member[28] = (uint8_t)(crc >> 8);
}

std::vector<uint8_t> raw_archive(const std::vector<Raw> &members) {
  std::vector<uint8_t> out;
  for (const Raw &r : members) for (uint8_t b : raw_member(r)) out.push_back(b);
  put16(out, 0);
  return out;
}

void SfxTest::SetUp() {
  char templ[] = "/tmp/sfxtest-XXXXXX";
  ASSERT_NE(mkdtemp(templ), nullptr);
  dir = templ;
  sfx_path = dir + "/test.exe";
  dest = dir + "/dest";
  // A run that loses its command line extracts into the working directory.
  std::filesystem::current_path(dir);
  fresh();
  unsetenv("TZ");
  ctx = nullptr;
  // The program's process-wide settings outlive a run; each test starts clean.
  win32s_host = auto_start = overwrite_all = keep_controls = ask_class = dir_from_command_line = 0;
  keep_newer = 1;
  dialog_window = nullptr;
}

int SfxTest::run_with(const std::string &tail, std::vector<std::function<void(HWND)>> steps) {
  size_t next = 0;
  posix::set_dialog_driver([steps, next](HWND dialog) mutable { return next < steps.size() && (steps[next++](dialog), true); });
  return run_program(tail);
}

void SfxTest::fresh() {
  posix::reset();
  posix::set_drive_root(dir + "/drives");
  posix::set_module_path(sfx_path);
  std::filesystem::remove_all(dest);
}

void SfxTest::TearDown() {
  std::filesystem::current_path("/tmp");
  posix::reset();
  ctx = nullptr;
  std::error_code ec;
  std::filesystem::permissions(dir, std::filesystem::perms::all, ec);
  std::filesystem::remove_all(dir, ec);
}

void SfxTest::write_sfx(const std::vector<uint8_t> &archive, const HeaderBlockFields &fields) {
  std::vector<uint8_t> file(1232 + 100, 0);
  file[0] = 'M', file[1] = 'Z';
  HeaderBlockFields f = fields;
  if (f.archive_offset == 0) f.archive_offset = (uint32_t)file.size();
  std::vector<uint8_t> block;
  std::string error;
  ASSERT_TRUE(header_block_bytes(f, &block, &error)) << error;
  std::copy(block.begin(), block.end(), file.begin() + 512);
  file.insert(file.end(), archive.begin(), archive.end());
  write_file(sfx_path, file);
}

void SfxTest::write_sfx(const std::vector<TestMember> &members, HeaderBlockFields block) {
  write_sfx(archive_bytes(members, (block.flags & BLOCK_INTEGRITY_SUM) != 0), block);
}

int SfxTest::run_program(const std::string &tail) {
  int result = -1;
  std::string line = tail;
  int status = posix::run([&] { result = WinMain((HINSTANCE)0x400000, nullptr, line.data(), 10); });
  exited = status >= 0;
  return exited ? status : result;
}

void SfxTest::make_context() {
  ctx = (SfxContext *)LocalAlloc(LPTR, sizeof(SfxContext));
  ASSERT_NE(ctx, nullptr);
  lstrcpyA(ctx->module_path, sfx_path.c_str());
  lstrcpyA(ctx->window_title, "Title");
  ctx->output_file = NO_FILE;
  ctx->archive_file = NO_ARCHIVE;
}

std::vector<std::string> SfxTest::written_outside(const std::string &inside, const std::vector<std::string> &inputs) {
  std::vector<std::string> outside;
  for (auto &e : std::filesystem::recursive_directory_iterator(dir)) {
    std::string p = e.path().string();
    bool below = p.compare(0, inside.size() + 1, inside + "/") == 0;
    bool ancestor = (inside + "/").compare(0, p.size() + 1, p + "/") == 0;
    bool input = p == sfx_path || std::count(inputs.begin(), inputs.end(), p);
    if (!below && !ancestor && !input && p.compare(0, dir.size() + 7, dir + "/drives") != 0) outside.push_back(p);
  }
  return outside;
}

std::vector<std::string> SfxTest::box_texts() const {
  std::vector<std::string> texts;
  for (const auto &b : posix::message_boxes()) texts.push_back(b.text);
  return texts;
}

std::string SfxTest::last_box_text() const {
  if (!posix::message_boxes().empty()) return posix::message_boxes().back().text;
  ADD_FAILURE() << "no message box was shown";
  return "";
}

std::string capture(const std::string &command, int *status) {
  std::string out;
  FILE *p = popen(("(" + command + ") 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), p)) > 0;) out.append(buffer, n);
  int r = pclose(p);
  if (status) *status = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
  return out;
}
