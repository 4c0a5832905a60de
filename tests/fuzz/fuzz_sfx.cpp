// A whole self-extractor from arbitrary bytes: header block flags and the
// archive come from the input; both passes run through WinMain with -n.
#include "fuzz_support.h"
#include <filesystem>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  std::string sfx = scratch_dir() + "/fuzz.exe", dest = scratch_dir() + "/dest";
  std::vector<uint8_t> file(1332, 0);
  file[0] = 'M', file[1] = 'Z';
  file[512] = (uint8_t)(1332 & 0xFF), file[513] = (uint8_t)(1332 >> 8);
  file[512 + 601] = data[0];  // flags
  file[512 + 602] = data[1];  // restore attributes
  file.insert(file.end(), data + 2, data + size);
  write_scratch(sfx, file.data(), file.size());
  fresh_context(sfx);
  LocalFree(ctx);
  ctx = nullptr;
  std::string line = "-n " + dest;
  posix::run([&] { WinMain((HINSTANCE)0x400000, nullptr, line.data(), 10); });
  // Nothing may land outside the destination unless the archive names it.
  std::error_code ec;
  std::filesystem::remove_all(dest, ec);
  std::filesystem::remove_all(scratch_dir() + "/drives", ec);
  return 0;
}
