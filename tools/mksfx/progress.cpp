#include "progress.h"
#include <cstdio>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

bool stderr_is_terminal() { return isatty(2); }

static std::string megabytes(uint64_t bytes) {
  char text[32];
  snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  return text;
}

std::string progress_text(uint64_t done, uint64_t total, double seconds) {
  char text[160];
  double rate = seconds > 0 ? done / seconds : 0;
  int percent = total ? (int)(100.0 * done / total) : 100;
  std::string left = "";
  if (rate > 0 && total > done) {
    char t[32];
    snprintf(t, sizeof t, "  %.0f s left", (total - done) / rate);
    left = t;
  }
  snprintf(text, sizeof text, "%s of %s  %3d%%  %.1f MB/s%s", megabytes(done).c_str(),
           megabytes(total).c_str(), percent, rate / 1e6, left.c_str());
  return text;
}

double progress_seconds(const Progress &p) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - p.start).count();
}

void progress_begin(Progress *p, uint64_t total, bool show) {
  p->total = total;
  p->shown = show;
  p->start = std::chrono::steady_clock::now();
  if (!show) return;
  p->ticker = std::thread([p] {
    while (!p->stop) {
      uint64_t done = *p->counter - p->base;
      std::lock_guard<std::mutex> lock(p->drawing);
      if (!p->held) fprintf(stderr, "\r%s\033[K", progress_text(done, p->total, progress_seconds(*p)).c_str());
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
}

void progress_hold(Progress *p, bool hold) {
  if (!p || !p->shown) return;
  std::lock_guard<std::mutex> lock(p->drawing);
  p->held = hold;
  if (hold) fputs("\r\033[K", stderr);
  fflush(stderr);
}

void progress_end(Progress *p) {
  if (!p->shown) return;
  p->stop = true;
  p->ticker.join();
  uint64_t done = *p->counter - p->base;  // the last state, then a clean line
  fprintf(stderr, "\r%s\033[K\r\033[K", progress_text(done, p->total, progress_seconds(*p)).c_str());
}
