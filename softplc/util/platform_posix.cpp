// The platform's surroundings on Linux.
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "softplc/util/platform.h"

namespace softplc {

Result<std::filesystem::path> executable_path() {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return runtime_error("cannot find the softplc program's own path: " + ec.message());
  return path;
}

const char* library_suffix() { return ".so"; }

bool stdin_is_terminal() { return isatty(fileno(stdin)) != 0; }

void binary_stdio() {}

const char* gnuplot_install_hint() { return ": install gnuplot to draw plots (Debian: apt-get install gnuplot-nox)"; }

// Linux lets a sleep end up to the thread's timer slack (50 us by default) late, so that wake-ups
// can be grouped; a cycle start wants the deadline itself.
FineTimerResolution::FineTimerResolution() {
  previousSlack_ = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  active_ = previousSlack_ > 0 && prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0) == 0;
}

FineTimerResolution::~FineTimerResolution() {
  if (active_) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previousSlack_), 0, 0, 0);
}

}  // namespace softplc
