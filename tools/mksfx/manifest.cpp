// The execution level a self-extractor asks Windows for. The stub's manifest
// holds `level="asInvoker"` followed by spaces, room for the longest level;
// the level is written over that region and the rest padded with spaces
// outside the quotes (Windows reads the value itself strictly).
#include "manifest.h"
#include <cstdio>
#include <cstring>
#include "host.h"
#include "startup/startup.h"

namespace {

constexpr uint16_t RT_MANIFEST_TYPE = 24, MANIFEST_ID = 1;
constexpr uint32_t RESOURCE_DIRECTORY = 2;

uint32_t get(const std::vector<uint8_t> &b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | (at + i < b.size() ? b[at + i] : 0);
  return v;
}

// File offset of an RVA, through the section table; 0 when no section holds it.
size_t file_offset(const std::vector<uint8_t> &b, uint32_t rva) {
  size_t pe = get(b, 60, 4), sections = pe + 24 + get(b, pe + 20, 2);
  for (uint32_t i = 0, n = get(b, pe + 6, 2); i < n; ++i) {
    size_t s = sections + 40 * i;
    uint32_t va = get(b, s + 12, 4), size = get(b, s + 16, 4);
    if (rva >= va && rva - va < size) return get(b, s + 20, 4) + (rva - va);
  }
  return 0;
}

// The entry with this id in a resource directory: the offset, below the
// resource root, of what it points to (with the subdirectory bit); 0 if none.
uint32_t resource_entry(const std::vector<uint8_t> &b, size_t root, uint32_t directory, uint32_t id, bool any) {
  size_t at = root + directory;
  uint32_t named = get(b, at + 12, 2), ids = get(b, at + 14, 2);
  for (uint32_t i = named; i < named + ids; ++i) {
    size_t entry = at + 16 + 8 * i;
    if (any || get(b, entry, 4) == id) return get(b, entry + 4, 4);
  }
  return 0;
}

// The manifest's bytes in the stub: [*begin, *end); false when it has none.
bool find_manifest(const std::vector<uint8_t> &b, size_t *begin, size_t *end) {
  const uint32_t SUBDIRECTORY = 0x80000000;
  if (b.size() < 64) return false;
  size_t pe = get(b, 60, 4), optional = pe + 24;
  size_t directories = optional + (get(b, optional, 2) == 0x10B ? 96 : 112);
  size_t root = file_offset(b, get(b, directories + 8 * RESOURCE_DIRECTORY, 4));
  if (!root) return false;
  uint32_t type = resource_entry(b, root, 0, RT_MANIFEST_TYPE, false);
  if (!(type & SUBDIRECTORY)) return false;
  uint32_t name = resource_entry(b, root, type & ~SUBDIRECTORY, MANIFEST_ID, false);
  if (!(name & SUBDIRECTORY)) return false;
  uint32_t data = resource_entry(b, root, name & ~SUBDIRECTORY, 0, true);  // its one language
  if (!data || (data & SUBDIRECTORY)) return false;
  *begin = file_offset(b, get(b, root + data, 4));
  *end = *begin + get(b, root + data + 4, 4);
  return *begin && *end <= b.size();
}

// The first field of the script's first "$InstallDir=" that names a
// directory, read with the stub's own line scanner: the one the stub takes
// when the header block names none.
std::string script_install_dir(const std::string &script_path) {
  std::string text;
  if (FILE *f = host_fopen(script_path, "rb")) {
    char buffer[4096];
    text.assign(buffer, fread(buffer, 1, sizeof buffer - 1, f));  // the stub reads at most 4,095 bytes
    fclose(f);
  }
  const char *cursor = text.c_str();
  char line[LINE_BUFFER_SIZE], field[LINE_BUFFER_SIZE];
  while (next_line(&cursor)) {
    if (match_key(&cursor) == KEY_INSTALL_DIR) {
      read_line_value(&cursor, line);
      const char *value = line;
      next_field(&value, field, sizeof field);
      if (field[0]) return field;
    }
    skip_line(&cursor);
  }
  return "";
}

// Writing into one of these needs an administrator on Vista and later.
bool names_system_location(const std::string &dir) {
  for (const char *macro : {"%ProgramFiles%", "%WinDir%", "%SystemDir%", "%WinRoot%"})
    if (dir.compare(0, strlen(macro), macro) == 0) return true;
  return false;
}

}  // namespace

bool parse_elevation(const std::string &text, Elevation *out) {
  static const std::pair<const char *, Elevation> NAMES[] = {
      {"auto", Elevation::automatic}, {"invoker", Elevation::invoker},
      {"highest", Elevation::highest}, {"admin", Elevation::admin}};
  for (const auto &[name, value] : NAMES)
    if (text == name) return *out = value, true;
  return false;
}

bool set_elevation(std::vector<uint8_t> *stub, Elevation choice, const std::string &default_dir,
                   const std::string &script_path, std::string *error) {
  size_t begin, end;
  if (!find_manifest(*stub, &begin, &end)) {
    *error = "the stub has no manifest to set --elevation in";
    return choice == Elevation::automatic;
  }
  if (choice == Elevation::automatic) {
    std::string dir = default_dir.empty() && !script_path.empty() ? script_install_dir(script_path) : default_dir;
    choice = names_system_location(dir) ? Elevation::highest : Elevation::invoker;
  }
  const char *level = choice == Elevation::admin     ? "requireAdministrator"
                      : choice == Elevation::highest ? "highestAvailable"
                                                     : "asInvoker";
  std::string text(stub->begin() + begin, stub->begin() + end);
  const std::string ATTRIBUTE = "level=\"";
  size_t element = text.find("<requestedExecutionLevel"), at = text.find(ATTRIBUTE, element);
  size_t quote = at == std::string::npos ? at : text.find('"', at + ATTRIBUTE.size());
  size_t next = quote == std::string::npos ? quote : text.find_first_not_of(' ', quote + 1);
  std::string region = ATTRIBUTE + level + "\"";
  // At least one space must stay: XML needs it between two attributes.
  if (element == std::string::npos || next == std::string::npos || next - at < region.size() + 1) {
    *error = "the stub's manifest has no room for the level";
    return false;
  }
  region.resize(next - at, ' ');
  std::copy(region.begin(), region.end(), stub->begin() + begin + at);
  return true;
}
