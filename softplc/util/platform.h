// What differs between the platforms beyond loading libraries: the host's own path and the
// resolution of the sleep timer.
#pragma once

#include <filesystem>

#include "softplc/util/result.h"

namespace softplc {

// The running program's own file.
Result<std::filesystem::path> executable_path();

// The module that softplc runs when none is named: CCodePublic.so / CCodePublic.dll beside the
// softplc program.
Result<std::filesystem::path> default_module_path();

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
  long previousSlack_ = 0;
};

}  // namespace softplc
