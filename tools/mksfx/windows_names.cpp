// Windows drops trailing dots and spaces from a name, compares names without
// case (non-ASCII letters included, by the code page's characters), and the
// stub turns '\\' into a separator and cleans what a name cannot hold: two
// inputs that end as one file there would lose one of them at extraction,
// and a name written otherwise should not come as a surprise.
#include "windows_names.h"
#include <cstdio>
#include <cstring>
#include <vector>
#include "host.h"
#include "paths/paths.h"
#include "runner.h"
#include "stub_layout.h"

namespace {

constexpr size_t TARGET_PATH_LIMIT = 259;  // bytes of a path Windows opens, without the terminator
std::vector<std::string> unfit;  // UTF-8 names without a place in the chosen code page

std::string drop_trailing_dots(const std::string &path) {
  std::string out;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('/', start);
    std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    while (!part.empty() && (part.back() == '.' || part.back() == ' ') && part != "." && part != "..")
      part.pop_back();
    out += part;
    if (slash == std::string::npos) return out;
    out += '/';
    start = slash + 1;
  }
}

// The shortest usual place a macro stands for: a path that does not fit
// below it fits below none.
const char *const MACRO_PLACES[][2] = {{"%WORK%", "C:\\TEMP"},        {"%WinDir%", "C:\\WINDOWS"},
                                       {"%WinRoot%", "C:"},           {"%SystemDir%", "C:\\WINDOWS\\SYSTEM"},
                                       {"%ProgramFiles%", "C:\\Program Files"}};

size_t default_dir_bytes(const std::string &dir) {
  for (const auto &m : MACRO_PLACES)
    if (dir.compare(0, strlen(m[0]), m[0]) == 0) return strlen(m[1]) + dir.size() - strlen(m[0]);
  return dir.empty() ? 2 : dir.size();  // none: the current directory, at least a drive
}

}  // namespace

bool name_in_codepage(const std::string &utf8, unsigned codepage, std::string *out) {
  if (host_to_codepage(utf8, codepage, out)) return true;
  for (const std::string &folder : unfit)  // named once, not again with every path below it
    if (utf8.compare(0, folder.size() + 1, folder + "/") == 0) return false;
  unfit.push_back(utf8);
  return false;
}

std::string unfit_names_report(unsigned codepage) {
  if (unfit.empty()) return "";
  std::string report = std::to_string(unfit.size()) + " name" + (unfit.size() == 1 ? "" : "s") +
                       " cannot be written in code page " + std::to_string(codepage) + ":";
  for (const std::string &name : unfit) {
    std::string ignored;
    unsigned other = codepage == 1252 ? 932 : 1252;
    report += "\n  " + name +
              (host_to_codepage(name, other, &ignored) ? " (code page " + std::to_string(other) + " holds it)"
                                                       : " (neither 1252 nor 932 holds it)");
  }
  return report;
}

std::string stub_written_path(const std::string &member_path, unsigned codepage) {
  char path[sizeof(SfxContext::target_path)] = {};
  if (member_path.size() >= sizeof(path)) return member_path;
  memcpy(path, member_path.data(), member_path.size());
  runner::use_code_page(codepage);
  convert_separators(path, '/');
  clean_member_path(path, true);
  return path;
}

std::string windows_key(const std::string &member_path, unsigned codepage) {
  std::string key = drop_trailing_dots(stub_written_path(member_path, codepage));
  while (!key.empty() && key.back() == '/') key.pop_back();
  return host_upper_case(name_to_utf8(key, codepage));
}

void note_windows_name(const std::string &member_path, unsigned codepage, const std::string &default_dir) {
  std::string written = drop_trailing_dots(stub_written_path(member_path, codepage));
  if (written != member_path)
    fprintf(stderr, "mksfx: %s: extracts as %s\n", name_to_utf8(member_path, codepage).c_str(),
            name_to_utf8(written, codepage).c_str());
  size_t bytes = default_dir_bytes(default_dir) + 1 + member_path.size() - (member_path.back() == '/');
  if (bytes > TARGET_PATH_LIMIT)
    fprintf(stderr, "mksfx: %s: %zu bytes below the default directory, more than the 259 Windows takes\n",
            name_to_utf8(member_path, codepage).c_str(), bytes);
}

std::string name_to_utf8(const std::string &text, unsigned codepage) { return host_from_codepage(text, codepage); }

unsigned marked_code_page(const unsigned char *dos_header) {
  const char *mark = (const char *)dos_header + BUILDER_ID_OFFSET;
  if (memcmp(mark, "mksfx cp", 8) != 0) return 0;
  return (unsigned)atoi(std::string(mark + 8, BUILDER_ID_SIZE - 8).c_str());
}

std::string builder_mark(unsigned codepage) { return "mksfx cp" + std::to_string(codepage); }
