// The stub's code in the Linux build of mksfx: the POSIX stand-in runs it.
#include "runner.h"
#include <cstdio>
#include <filesystem>
#include "host.h"
#include "posix/harness.h"

namespace runner {
namespace {

std::string last_text;
std::string confined;  // the root of confine, "" before
std::string module;    // the archive read, named in UTF-8 wherever it is
Answerer answerer;

bool inside(const std::string &path, const std::string &root) {
  return path.compare(0, root.size(), root) == 0 &&
         (path.size() == root.size() || path[root.size()] == '/' || root.back() == '/');
}

}  // namespace

const char *const null_device = "/dev/null";

void reset(const char *module_path) {
  posix::reset();
  posix::set_module_path(module_path);
  module = module_path;
  posix::set_write_guard(nullptr);
  last_text.clear();
  confined.clear();
  answerer = nullptr;
  posix::set_box_answerer([](const std::string &text, UINT style) {
    last_text = text;
    if (answerer) return answerer(text, style);
    fprintf(stderr, "mksfx: %s\n", text.c_str());
    UINT buttons = style & 0xF;
    return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDYES : IDOK;
  });
}

void confine(const std::string &root) {
  // "X:\..." would land below the drive root: put it where the guard refuses it.
  confined = root;
  std::string refused = (std::filesystem::path(root) / ".drives-refused").string();
  posix::set_drive_root(refused);
  posix::set_write_guard([root, refused](const std::string &host) {
    std::string p = std::filesystem::path(host).lexically_normal().string();
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return inside(p, root) && !inside(p, refused);
  });
}

void use_code_page(unsigned codepage) {
  posix::set_code_page((int)codepage);
  std::string root = confined, archive = module;
  if (root.empty()) return;
  posix::set_name_translator([root, archive, codepage](const std::string &host) {
    if (host.size() <= root.size() || !inside(host, root) || host == archive) return host;
    size_t cut = root.size() + (root.back() != '/');
    return host.substr(0, cut) + host_from_codepage(host.substr(cut), codepage);
  });
}

void answer_boxes(const Answerer &a) { answerer = a; }
int run(const std::function<void()> &body) { return posix::run(body); }
const std::string &last_box_text() { return last_text; }
std::atomic<uint64_t> *written_bytes() { return &posix::written_bytes; }

}  // namespace runner
