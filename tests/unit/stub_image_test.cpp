// The product as built: what every Win32 loader needs of it. (The dialogs'
// controls are driven by the Wine cases on both stubs.)
#include <gtest/gtest.h>
#include <cstring>
#include <regex>
#include <sstream>
#include "support.h"

namespace {

// What the tests need out of a PE image, read independently of the build's
// own tools: headers, sections and data directories.
struct PeImage {
  std::vector<uint8_t> bytes;
  uint32_t pe = 0, optional = 0, sections = 0;
  uint16_t section_count = 0, magic = 0;

  uint16_t u16(size_t at) const { return (uint16_t)(bytes[at] | bytes[at + 1] << 8); }
  uint32_t u32(size_t at) const { return u16(at) | (uint32_t)u16(at + 2) << 16; }
  bool load(const std::vector<uint8_t> &file) {
    bytes = file;
    if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
    pe = u32(60);
    if (pe + 24 > bytes.size() || u32(pe) != 0x4550) return false;
    section_count = u16(pe + 6), optional = pe + 24, magic = u16(optional), sections = optional + u16(pe + 20);
    return true;
  }
  size_t rva_to_offset(uint32_t rva) const {  // 0 when outside every section
    for (uint16_t i = 0; i < section_count; ++i) {
      size_t s = sections + 40u * i;
      uint32_t va = u32(s + 12), size = u32(s + 16), raw = u32(s + 20);
      if (rva >= va && rva < va + size) return raw + (rva - va);
    }
    return 0;
  }
  uint32_t directory_rva(int index) const { return u32(optional + (magic == 0x10B ? 96 : 112) + 8u * (unsigned)index); }
};

// Built by scripts/build; a test build without the stub skips these.
class ProductStub : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!exists(path)) GTEST_SKIP() << path << " missing: run scripts/build";
    ASSERT_TRUE(pe.load(read_file(path)));
  }
  const std::string path = std::string(SFX_DIST_DIR) + "/sfxstub32.exe";
  PeImage pe;
};

// The product must load on every 32-bit Windows: Win32s moves every program
// (so the relocation table must be there and whole), the first Win32 loaders
// take nothing above version 3.10, and 386-class processors run the code.
TEST_F(ProductStub, HeaderVersionsAndDirectoriesSuitEveryWin32Loader) {
  ASSERT_EQ(pe.magic, 0x10B);
  EXPECT_EQ(pe.pe, 1232u);  // past the header block at 512 and the DOS program at 1120
  EXPECT_EQ(pe.u16(pe.pe + 22) & 1, 0) << "relocations stripped";
  EXPECT_NE(pe.directory_rva(5), 0u) << "no base relocation directory";
  EXPECT_EQ(pe.directory_rva(9), 0u) << "a TLS directory";
  // Operating system and subsystem versions.
  const unsigned o = pe.optional;
  EXPECT_EQ(std::vector<unsigned>({pe.u16(o + 40), pe.u16(o + 42), pe.u16(o + 48), pe.u16(o + 50)}), std::vector<unsigned>({3, 10, 3, 10}));
  EXPECT_LE(pe.bytes.size(), 34816u);
}

// A second link at base 0x10000000 differs from the product exactly where an
// absolute address lies, by the distance between the bases: each such place
// must be listed, and nothing else may be.
TEST_F(ProductStub, RelocationTableListsEveryAbsoluteAddressAndNothingElse) {
  if (!*SFX_RELINKED_STUB) GTEST_SKIP() << "no i686 mingw compiler to link the stub again";
  PeImage relinked;
  ASSERT_TRUE(relinked.load(read_file(SFX_RELINKED_STUB)));
  ASSERT_EQ(pe.bytes.size(), relinked.bytes.size());
  const uint32_t base = pe.u32(pe.optional + 28), delta = 0x10000000 - base;
  ASSERT_EQ(relinked.u32(relinked.optional + 28), 0x10000000u);
  std::vector<bool> listed(pe.bytes.size());
  for (size_t k = 0; k < 4; ++k) listed[pe.optional + 28 + k] = true;
  size_t at = pe.rva_to_offset(pe.directory_rva(5));
  uint32_t size = pe.u32(pe.optional + 96 + 5 * 8 + 4);
  ASSERT_NE(at, 0u);
  size_t locations = 0;
  for (size_t end = at + size; at + 8 <= end;) {
    uint32_t page = pe.u32(at), block = pe.u32(at + 4);
    ASSERT_GE(block, 8u);
    for (size_t e = at + 8; e < at + block; e += 2) {
      uint16_t entry = pe.u16(e);
      if (entry >> 12 == 0) continue;  // padding
      ASSERT_EQ(entry >> 12, 3) << "only 32-bit locations";
      size_t where = pe.rva_to_offset(page + (entry & 0xFFF));
      ASSERT_NE(where, 0u);
      EXPECT_EQ(relinked.u32(where), pe.u32(where) + delta) << "location " << std::hex << where;
      for (size_t k = 0; k < 4; ++k) listed[where + k] = true;
      ++locations;
    }
    at += block;
  }
  EXPECT_GT(locations, 100u);
  for (size_t i = 0; i < pe.bytes.size(); ++i)
    ASSERT_TRUE(pe.bytes[i] == relinked.bytes[i] || listed[i]) << "unlisted change at " << std::hex << i;
}

// The manifests (resource 24, id 1, as 7-Zip finds it) as a strict XML parser reads them, a line
// each: the level, whether a dependency is named, and the rest in canonical form.
std::string manifests_of(const std::string &files) {
  return capture("python3 -c 'import sys, subprocess, xml.etree.ElementTree as E\n"
                 "for f in sys.argv[1:]:\n"
                 " m = subprocess.run([\"7z\",\"x\",\"-tPE\",\"-so\",f,\".rsrc/MANIFEST/1\"], capture_output=True)\n"
                 " r = E.fromstring(m.stdout); v = \"{urn:schemas-microsoft-com:asm.v3}\"\n"
                 " e = r.find(f\"{v}trustInfo/{v}security/{v}requestedPrivileges/{v}requestedExecutionLevel\")\n"
                 " print(e.get(\"level\"), r.find(\".//{*}dependency\"), end=\" \"); e.set(\"level\", \"\")\n"
                 " print(E.canonicalize(E.tostring(r), strip_text=True))' " + files);
}

// mksfx writes the level asked for, or with auto the highest one for a default directory in a
// system location; nothing else in the stub changes but the header block; signing comes after.
class StubManifest : public ProductStub {};  // run on mutants of mksfx, unlike the checks of the stub alone
TEST_F(StubManifest, AsksForTheChosenLevelAndNothingElseChanges) {
  std::string dir = ::testing::TempDir() + "elevation", mksfx = "cd " + dir + " && " MKSFX_PATH " -q --stub " + path;
  capture("mkdir -p " + dir + " && echo x > " + dir + "/in.txt");
  write_text(dir + "/s", "$InstallDir=\r\n$InstallDir=\"%WinDir%\\App\",0\n");  // the first names none
  struct Row { std::string options, level, why; } rows[] = {
      {"", "asInvoker", "the stub as built"}, {"", "asInvoker", "auto with no default directory"},
      {"--elevation invoker --default-dir %WinDir%", "asInvoker", "as asked"},
      {"--elevation highest", "highestAvailable", "as asked"}, {"--elevation admin", "requireAdministrator", "as asked"},
      {"--default-dir '%ProgramFiles%\\App'", "highestAvailable", "auto: Program Files"},
      {"--elevation auto --default-dir '%SystemDir%\\x'", "highestAvailable", "auto: the system directory"},
      {"--default-dir '%WinRoot%\\Games'", "highestAvailable", "auto: the root of the Windows drive"},
      {"--default-dir '%WORK%\\x'", "asInvoker", "auto: the work directory is the user's"},
      {"--default-dir %windir%", "asInvoker", "auto: no macro for the stub, which matches case"},
      {"--script s", "highestAvailable", "auto: the script's first directory (Windows) when the block has none"},
      {"--script s --default-dir 'C:\\App'", "asInvoker", "auto: the block's directory before the script's"},
  };
  std::string stub(pe.bytes.begin(), pe.bytes.end()), files = path;
  size_t begin = stub.find("level=\""), end = stub.find("uiAccess", begin);  // where the level may change
  for (size_t i = 1; i < std::size(rows); ++i) {
    std::string out = dir + "/out" + std::to_string(i) + ".exe";
    ASSERT_EQ(capture(mksfx + " -o " + out + " " + rows[i].options + " in.txt"), "") << rows[i].why;
    std::vector<uint8_t> built = read_file(out);
    for (size_t k = 0; k < stub.size(); ++k)  // but for the builder's name and the header block
      ASSERT_TRUE((k >= 36 && k < 48) || (k >= 512 && k < 1115) || (k >= begin && k < end) || built[k] == pe.bytes[k])
          << rows[i].why << ": changed at " << k;
    files += " " + out;
  }
  std::istringstream got(manifests_of(files));
  std::string line, first;
  for (const Row &r : rows) {
    ASSERT_TRUE(std::getline(got, line)) << r.why;
    if (first.empty()) first = line.substr(line.find(' '));
    EXPECT_EQ(line, r.level + first) << r.why;
  }
  EXPECT_EQ(first.substr(0, 6), " None ") << "a dependency";
  EXPECT_NE(capture(mksfx + " --elevation root -o x.exe in.txt; echo status=$?").find("status=2"), std::string::npos);
  int status;
  std::string said = capture("cd " + dir + " && rm -f signed.exe && openssl req -x509 -newkey rsa:2048 -nodes "
                             "-keyout k.pem -out c.pem -subj /CN=sfx && osslsigncode sign -certs c.pem -key k.pem "
                             "-in out4.exe -out signed.exe && osslsigncode verify -CAfile c.pem signed.exe", &status);
  EXPECT_EQ(status, 0) << said;
}

// Windows 95 and later draw a version-3.10 program's dialogs flat unless they
// ask for DS_3DLOOK (0x4); and the image imports only the system's DLLs, no C runtime.
TEST_F(ProductStub, DialogsAskForThe3DLookAndOnlySystemDllsAreImported) {
  for (const char *name : {"SFXDIALOG", "GETDIRDIALOG"}) {  // a DIALOGEX has its style at 12
    std::string t = capture("7z x -tPE -so '" + path + "' .rsrc/DIALOG/" + name + " 2>/dev/null");
    EXPECT_TRUE(t.size() > 16 && t[t.compare(0, 4, "\1\0\xFF\xFF", 4) == 0 ? 12 : 0] & 0x4) << name;
  }
  std::string dlls = capture("i686-w64-mingw32-objdump -p '" + path + "' | sed -n 's/.*DLL Name: //p' | tr A-Z a-z | tr '\\n' ' '");
  EXPECT_TRUE(std::regex_match(dlls, std::regex("((advapi32|comdlg32|gdi32|kernel32|shell32|user32)\\.dll )+"))) << dlls;
}

TEST_F(ProductStub, HoldsNoInstructionNewerThanThe80386) {
  FILE *dump = popen(("i686-w64-mingw32-objdump -d --no-show-raw-insn '" + path + "' 2>/dev/null").c_str(), "r");
  ASSERT_NE(dump, nullptr);
  // 486: bswap, cmpxchg, xadd, invlpg, wbinvd; Pentium: cpuid, rdtsc, rdmsr,
  // cmpxchg8b; P6 and later: cmov, fcmov, fcomi, ud2, long nops, MMX and SSE.
  const char *newer[] = {"bswap", "cmpxchg", "xadd", "invlpg", "invd", "wbinvd", "cpuid", "rdtsc", "rdmsr", "wrmsr", "rdpmc",
                         "rsm", "cmov", "fcmov", "fcomi", "fucomi", "ud2", "sysenter", "nopw", "nopl", "emms", "movnti",
                         "fence", "prefetch", "movbe", "popcnt", "lzcnt", "tzcnt", "endbr"};
  std::string found;
  size_t instructions = 0;
  char line[512];
  while (fgets(line, sizeof line, dump)) {
    const char *tab = strchr(line, '\t');
    if (!tab || !strchr(line, ':')) continue;
    std::string text(tab + 1);
    ++instructions;
    std::string mnemonic = text.substr(0, text.find_first_of(" \n"));
    bool bad = text.find("%mm") != std::string::npos || text.find("%xmm") != std::string::npos;
    for (const char *n : newer) bad |= mnemonic.find(n) != std::string::npos;
    if (bad && found.size() < 2000) found += line;
  }
  EXPECT_EQ(pclose(dump), 0) << "i686-w64-mingw32-objdump failed";
  EXPECT_GT(instructions, 1000u);
  EXPECT_EQ(found, "");
}

}  // namespace
