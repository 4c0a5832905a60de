// The built stubs: the self-extractor file layout byte for byte, the DOS
// program, the imported DLLs and the dialog and icon resources.
#include <gtest/gtest.h>
#include <cstring>
#include "pe_reader.h"
#include "support.h"
#include <map>
#include "ui/ui.h"

namespace {

enum : uint32_t { WS_POPUP_ = 0x80000000, WS_VISIBLE_ = 0x10000000, WS_CAPTION_ = 0x00C00000, WS_SYSMENU_ = 0x00080000 };
enum : uint16_t { BUTTON = 0x80, EDIT = 0x81, STATIC = 0x82, LISTBOX = 0x83, COMBOBOX = 0x85 };

struct Reader {
  const std::vector<uint8_t> &d;
  size_t at = 0;
  uint16_t u16() {
    at += 2;
    return (uint16_t)(d[at - 2] | d[at - 1] << 8);
  }
  uint32_t u32() { uint32_t lo = u16(); return lo | (uint32_t)u16() << 16; }
  void align() { at = (at + 3) & ~(size_t)3; }
  std::string text() {  // a UTF-16 string, or "#n" for an ordinal
    uint16_t c = u16();
    if (c == 0xFFFF) return "#" + std::to_string(u16());
    std::string s;
    for (; c; c = u16()) s += (char)c;
    return s;
  }
};

// The controls of a DIALOG or DIALOGEX template by id: class and visibility.
struct Control {
  std::string cls;
  bool visible;
};
std::map<int, Control> dialog_controls(const std::vector<uint8_t> &data, uint32_t *style) {
  Reader r{data};
  bool extended = r.u16() == 1 && r.u16() == 0xFFFF;
  r.at = extended ? 12 : 0;
  *style = r.u32();
  r.at += extended ? 0 : 4;
  uint16_t count = r.u16();
  r.at += 8;
  r.text(), r.text(), r.text();  // menu, class, title; no font: the system's
  std::map<int, Control> controls;
  for (uint16_t i = 0; i < count && r.at < data.size(); ++i) {
    r.align();
    r.at += extended ? 8 : 0;
    uint32_t item_style = r.u32();
    r.at += (extended ? 0 : 4) + 8;
    int id = extended ? (int)r.u32() : (short)r.u16();
    Control c{r.text(), (item_style & WS_VISIBLE_) != 0};
    r.text();
    r.at += r.u16();
    controls[id] = c;
  }
  return controls;
}

// Built by scripts/build; a test build without the stubs skips these.
class StubImageTest : public ::testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    if (!exists(std::string(SFX_DIST_DIR) + "/" + name())) GTEST_SKIP() << name() << " missing: run scripts/build";
    ASSERT_TRUE(pe.load(read_file(std::string(SFX_DIST_DIR) + "/" + name())));
  }
  virtual const char *name() const { return GetParam(); }
  PeImage pe;
};

class ProductStub : public StubImageTest {
  const char *name() const override { return "sfxstub32.exe"; }
};

TEST_P(StubImageTest, FileLayoutMatchesTheSelfExtractorFormat) {
  const std::vector<uint8_t> &b = pe.bytes;
  ASSERT_GT(b.size(), 1236u);
  EXPECT_EQ(b[0], 'M');
  EXPECT_EQ(b[1], 'Z');
  EXPECT_EQ(b[8] | b[9] << 8, 32);        // header paragraphs: the DOS image starts at 512
  EXPECT_EQ(b[20] | b[21] << 8, 0);       // IP
  EXPECT_EQ(b[22] | b[23] << 8, 0x26);    // CS: 512 + 0x260 = 1120
  EXPECT_EQ(b[60] | b[61] << 8 | b[62] << 16 | b[63] << 24, 0x4D0);
  for (size_t i = 64; i < 1120; ++i) ASSERT_EQ(b[i], 0) << "offset " << i;  // block area zero in the bare stub
  EXPECT_EQ(memcmp(&b[1232], "PE\0\0", 4), 0);
}

TEST_P(StubImageTest, DosProgramPrintsItsTextAndExitsWithOne) {
  const std::vector<uint8_t> &b = pe.bytes;
  const uint8_t expected_code[] = {
      0x0E,              // push cs
      0x1F,              // pop ds
      0xBA, 0x0E, 0x00,  // mov dx, 000E: the text
      0xB4, 0x09,        // mov ah, 09: print up to '$'
      0xCD, 0x21,        // int 21
      0xB8, 0x01, 0x4C,  // mov ax, 4C01: exit with code 1
      0xCD, 0x21,        // int 21
  };
  ASSERT_EQ(memcmp(&b[1120], expected_code, sizeof(expected_code)), 0);
  std::string text(b.begin() + 1120 + 0x0E, b.begin() + 1232);
  EXPECT_EQ(text.substr(0, text.find('$') + 1), "This program can not be run in DOS mode.\r\r\n$");
}

TEST_P(StubImageTest, ImportsOnlySystemDlls) {
  std::vector<std::string> dlls = pe.imported_dlls();
  EXPECT_GE(dlls.size(), 5u);
  for (std::string dll : dlls) {
    for (char &c : dll) c = (char)toupper(c);
    EXPECT_TRUE(dll == "KERNEL32.DLL" || dll == "USER32.DLL" || dll == "GDI32.DLL" ||
                dll == "COMDLG32.DLL" || dll == "ADVAPI32.DLL" || dll == "SHELL32.DLL")
        << dll;
  }
}

// Every control the code addresses is there with the class it expects; the
// chooser's template holds the controls GetOpenFileNameA drives (dlgs.h's
// stc1, lst2, cmb2 shown; edt1, lst1, cmb1, chx1 hidden: no file names).
TEST_P(StubImageTest, DialogsHoldTheControlsTheirUsersAddress) {
  struct Want {
    int id;
    uint16_t cls;
    bool visible;
  };
  struct Dialog {
    const char *name;
    std::vector<Want> controls;
  } dialogs[] = {
      {"SFXDIALOG", {{IDC_DIRECTORY, EDIT, true}, {IDC_MEMBER_NAME, STATIC, true}, {IDC_PROGRESS, STATIC, true},
                     {IDC_DIR_LABEL, STATIC, true}, {IDC_REFERENCE, BUTTON, true}, {IDC_START_MENU, BUTTON, true},
                     {IDC_SET_CLASS, BUTTON, true}, {IDOK, BUTTON, true}, {IDCANCEL, BUTTON, true}}},
      {"GETDIRDIALOG", {{0x440, STATIC, true}, {0x461, LISTBOX, true}, {0x471, COMBOBOX, true}, {IDOK, BUTTON, true},
                        {IDCANCEL, BUTTON, true}, {0x480, EDIT, false}, {0x460, LISTBOX, false},
                        {0x470, COMBOBOX, false}, {0x410, BUTTON, false}}},
  };
  for (const Dialog &d : dialogs) {
    SCOPED_TRACE(d.name);
    uint16_t language;
    std::vector<uint8_t> data;
    ASSERT_TRUE(pe.resource(5, d.name, &language, &data));
    EXPECT_EQ(language, 1041);
    uint32_t style;
    std::map<int, Control> controls = dialog_controls(data, &style);
    EXPECT_EQ(style & (WS_POPUP_ | WS_CAPTION_ | WS_SYSMENU_), WS_POPUP_ | WS_CAPTION_ | WS_SYSMENU_);
    for (const Want &w : d.controls) {
      ASSERT_EQ(controls.count(w.id), 1u) << w.id;
      EXPECT_EQ(controls[w.id].cls, "#" + std::to_string(w.cls)) << w.id;
      EXPECT_EQ(controls[w.id].visible, w.visible) << w.id;
    }
  }
}

TEST_P(StubImageTest, IconHasA32And16PixelSixteenColourImage) {
  uint16_t language;
  std::vector<uint8_t> group;
  ASSERT_TRUE(pe.resource(14, "#101", &language, &group));
  ASSERT_EQ(std::vector<uint8_t>(group.begin(), group.begin() + 6), (std::vector<uint8_t>{0, 0, 1, 0, 2, 0}));
  const unsigned pixels[] = {32, 16}, image_bytes[] = {744, 296};
  for (int i = 0; i < 2; ++i) {
    const uint8_t *entry = &group[6 + 14 * i];  // width, height, colours, 0, planes, bits per pixel, size, id
    EXPECT_EQ(std::vector<unsigned>({entry[0], entry[2], entry[6]}), std::vector<unsigned>({pixels[i], 16, 4}));
    std::vector<uint8_t> image;
    EXPECT_TRUE(pe.resource(3, "#" + std::to_string(entry[12] | entry[13] << 8), &language, &image));
    EXPECT_EQ(image.size(), image_bytes[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(BothStubs, StubImageTest, ::testing::Values("sfxstub32.exe", "sfxstub64.exe"));

// The product must load on every 32-bit Windows: Win32s moves every program
// (so the relocation table must be there and whole), the first Win32 loaders
// take nothing above version 3.10, and 386-class processors run the code.
TEST_F(ProductStub, HeaderVersionsAndDirectoriesSuitEveryWin32Loader) {
  ASSERT_EQ(pe.magic, 0x10B);
  EXPECT_EQ(pe.u16(pe.pe + 22) & 1, 0) << "relocations stripped";
  EXPECT_NE(pe.directory_rva(5), 0u) << "no base relocation directory";
  EXPECT_EQ(pe.directory_rva(9), 0u) << "a TLS directory";
  EXPECT_EQ(pe.u16(pe.optional + 40), 3);  // operating system version
  EXPECT_EQ(pe.u16(pe.optional + 42), 10);
  EXPECT_EQ(pe.u16(pe.optional + 48), 3);  // subsystem version
  EXPECT_EQ(pe.u16(pe.optional + 50), 10);
  EXPECT_LE(pe.bytes.size(), 32768u);
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

TEST_F(ProductStub, HoldsNoInstructionNewerThanThe80386) {
  std::string path = std::string(SFX_DIST_DIR) + "/sfxstub32.exe";
  FILE *dump = popen(("i686-w64-mingw32-objdump -d --no-show-raw-insn '" + path + "' 2>/dev/null").c_str(), "r");
  ASSERT_NE(dump, nullptr);
  // 486: bswap, cmpxchg, xadd, invlpg, wbinvd; Pentium: cpuid, rdtsc, rdmsr,
  // cmpxchg8b; P6 and later: cmov, fcmov, fcomi, ud2, long nops, MMX and SSE.
  const char *newer[] = {"bswap", "cmpxchg", "xadd", "invlpg", "invd", "wbinvd", "cpuid", "rdtsc", "rdmsr",
                         "wrmsr", "rdpmc", "rsm", "cmov", "fcmov", "fcomi", "fucomi", "ud2", "sysenter",
                         "nopw", "nopl", "emms", "movnti", "fence", "prefetch", "movbe", "popcnt", "lzcnt",
                         "tzcnt", "endbr"};
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
