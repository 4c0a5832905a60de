// Times the stub's own extract pass (member loop, decoder, output sink and
// real files, through the POSIX stand-in) on a self-extractor, RUNS times.
// Prints the median seconds and the output MB/s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>
#include "archive/archive.h"
#include "posix/harness.h"
#include "startup/startup.h"

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: decode_bench SFX.exe DEST RUNS\n");
    return 2;
  }
  const char *sfx = argv[1], *dest = argv[2];
  int runs = atoi(argv[3]);
  std::vector<double> seconds;
  uintmax_t bytes = 0;
  for (int r = 0; r < runs; ++r) {
    std::filesystem::remove_all(dest);
    posix::reset();
    posix::set_module_path(sfx);
    ctx = (SfxContext *)LocalAlloc(LPTR, sizeof(SfxContext));
    lstrcpyA(ctx->module_path, sfx);
    load_header_block();
    lstrcpynA(ctx->install_dir, dest, sizeof(ctx->install_dir));
    overwrite_all = 1;
    keep_newer = 0;
    auto start = std::chrono::steady_clock::now();
    bool ok = run_pass(nullptr, PASS_EXTRACT);
    auto end = std::chrono::steady_clock::now();
    LocalFree(ctx);
    if (!ok) {
      fprintf(stderr, "decode_bench: the extract pass failed\n");
      return 1;
    }
    seconds.push_back(std::chrono::duration<double>(end - start).count());
  }
  for (auto &e : std::filesystem::recursive_directory_iterator(dest))
    if (e.is_regular_file()) bytes += e.file_size();
  std::sort(seconds.begin(), seconds.end());
  double median = seconds[seconds.size() / 2];
  printf("%.4f %.1f\n", median, bytes / median / 1e6);
  return 0;
}
