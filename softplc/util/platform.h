// What differs between the platforms beyond loading libraries, files and processes: the host's own
// path, its terminal, the resolution of the sleep timer and where to get the plotter.
// platform_posix.cpp and platform_win32.cpp implement the parts that differ; CMake builds the one
// that fits.
#pragma once

#include <filesystem>

#include "softplc/util/result.h"

namespace softplc {

// The running program's own file.
Result<std::filesystem::path> executable_path();

// The module that softplc runs when none is named: CCodePublic.so / CCodePublic.dll beside the
// softplc program.
Result<std::filesystem::path> default_module_path();

// The ending of this platform's library files: ".so" or ".dll".
const char* library_suffix();

// Whether standard input is a terminal (a person types); otherwise the commands are echoed.
bool stdin_is_terminal();

// Standard input and output carry bytes as they are (Windows translates line ends otherwise): for a
// protocol on them.
void binary_stdio();

// How to get gnuplot on this system, as the end of the message that it is missing
// (": install gnuplot to draw plots ...").
const char* gnuplot_install_hint();

// While alive, asks the system for a finer sleep: a resolution of 1 ms on Windows (which sleeps in
// steps of about 15.6 ms otherwise), the least timer slack on Linux.
class FineTimerResolution {
 public:
  FineTimerResolution();
  ~FineTimerResolution();
  FineTimerResolution(const FineTimerResolution&) = delete;
  FineTimerResolution& operator=(const FineTimerResolution&) = delete;

 private:
  bool active_ = false;
  long previousSlack_ = 0;   // Linux: the thread's timer slack before
};

}  // namespace softplc
