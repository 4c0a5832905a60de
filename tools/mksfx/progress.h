// A progress line on stderr that rewrites itself while mksfx works (only on a
// terminal, and not with -q), and the summary line at the end.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct Progress {
  std::atomic<uint64_t> done{0};  // bytes handled so far, when counted here
  const std::atomic<uint64_t> *counter = &done;  // or a counter of someone else's,
  uint64_t base = 0;                             // from this value on
  uint64_t total = 0;
  bool shown = false;
  std::atomic<bool> stop{false};
  std::mutex drawing;  // the ticker draws only under it, and not while held
  bool held = false;
  std::thread ticker;
  std::chrono::steady_clock::time_point start;
};

// "12.0 MB of 100.0 MB  12%  8.1 MB/s  11 s left"
std::string progress_text(uint64_t done, uint64_t total, double seconds);
void progress_begin(Progress *p, uint64_t total, bool show);
void progress_end(Progress *p);  // stops the ticker and clears the line
// Clears the line and keeps it away while a question waits for its answer
// or other lines print (hold true); brings it back (hold false).
void progress_hold(Progress *p, bool hold);
double progress_seconds(const Progress &p);
bool stderr_is_terminal();
