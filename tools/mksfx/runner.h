// The stub's own code run inside mksfx: through the POSIX stand-in in the
// Linux build, through the real Win32 calls in the Windows build. Either way
// ExitProcess ends only the run, a message box becomes a line on stderr or a
// question for the caller, and creating anything outside a confined root
// fails as a refused file would.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include "platform/platform.h"

namespace runner {

using Answerer = std::function<int(const std::string &text, UINT style)>;

extern const char *const null_device;

// Fresh state for one run of the stub's code reading the file at module_path.
void reset(const char *module_path);
// Nothing may be created outside root (absolute, normalized) until the next reset.
void confine(const std::string &root);
// Who answers the stub's message boxes until the next reset; without one a
// box is printed on stderr and takes its first button.
void answer_boxes(const Answerer &answerer);
// Runs body; the status it gave ExitProcess, or -1 when it returned.
int run(const std::function<void()> &body);
// Names are in this code page for the stub's code until the next reset
// (lead bytes, case), and the host's names below the confined root in UTF-8.
void use_code_page(unsigned codepage);
const std::string &last_box_text();      // "" when the run showed none
std::atomic<uint64_t> *written_bytes();  // by WriteFile, ever

}  // namespace runner
