// Shared pieces of the native tests: a temporary tree, archives built with
// the builder's own writer, a self-extractor file the program can read as its
// own module, and a way to run the whole program through the stand-in.
#pragma once
#include <gtest/gtest.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include "archive_writer.h"
#include "posix/harness.h"
#include "startup/context.h"

std::vector<uint8_t> read_file(const std::string &path);
void write_file(const std::string &path, const std::vector<uint8_t> &data);
void write_text(const std::string &path, const std::string &text);
std::string read_text(const std::string &path);
bool exists(const std::string &path);
// What a shell command printed on stdout and stderr; its exit status into *status.
std::string capture(const std::string &command, int *status = nullptr);
std::vector<uint8_t> pattern_bytes(size_t size, uint32_t seed);  // compressible, deterministic

// One member to put into a test archive.
struct TestMember {
  std::string path;
  std::vector<uint8_t> data;
  char method = '5';  // '0', '5', '6', '7' or 'd'
  uint32_t time = 1000000000, creation = 0, write = 0, access = 0;  // the last three in extended headers; 0: the header time
  uint16_t attribute = 0x20;
};
TestMember file_member(const std::string &path, const std::string &text, char method = '5');
std::vector<uint8_t> member_data(const TestMember &m, uint16_t *crc = nullptr);
std::vector<uint8_t> archive_bytes(const std::vector<TestMember> &members, bool integrity_sum = false);

// One member assembled by hand: fields exactly as another archiver (or an
// attacker) may write them, sizes as declared (by default the data's), extra
// extended headers, the header CRC left out on request.
struct Raw {
  std::string dir, name;
  char method = '0';
  std::string data;
  int64_t compressed = -1, original = -1, file_crc = -1;
  std::vector<uint8_t> extra = {};
  bool header_crc = true;
};
void put16(std::vector<uint8_t> &b, size_t v);
void put32(std::vector<uint8_t> &b, uint32_t v);
std::vector<uint8_t> raw_member(const Raw &r);
// Makes a changed header's CRC (the first extended header, as every writer
// here puts it) good again.
void set_header_crc(std::vector<uint8_t> &member);
std::vector<uint8_t> raw_archive(const std::vector<Raw> &members);  // with the end marker

class SfxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a self-extractor at sfx_path and makes it the running module.
  void write_sfx(const std::vector<uint8_t> &archive, const HeaderBlockFields &block = {});
  void write_sfx(const std::vector<TestMember> &members, HeaderBlockFields block = {});
  // Runs WinMain with the command line tail; the exit status or WinMain's result.
  int run_program(const std::string &tail);
  // Runs the program; `steps` are done one per idle turn of its dialog.
  int run_with(const std::string &tail, std::vector<std::function<void(HWND)>> steps);
  static void press(HWND dialog, int id) { PostMessageA(dialog, WM_COMMAND, (WPARAM)id, 0); }
  // A stand-in as SetUp leaves it, and no destination tree, for another run.
  void fresh();
  // A fresh zero context for tests of single routines.
  void make_context();
  // Paths below dir that a run wrote outside `inside`: its ancestors, the
  // self-extractor, the stand-in's drives and the given inputs aside.
  std::vector<std::string> written_outside(const std::string &inside, const std::vector<std::string> &inputs = {});
  std::vector<std::string> box_texts() const;
  std::string last_box_text() const;  // a failure, not a crash, when there was none

  std::string dir;       // a fresh temporary directory
  std::string sfx_path;  // dir + "/test.exe"
  std::string dest;      // dir + "/dest"
  bool exited = false;   // the last run ended through ExitProcess
};
