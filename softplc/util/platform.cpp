#include "softplc/util/platform.h"

#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#include <timeapi.h>
#endif
#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace softplc {

Result<std::filesystem::path> executable_path() {
#if defined(_WIN32)
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return runtime_error("cannot find the softplc program's own path");
    if (length < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
#else
  std::error_code ec;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return runtime_error("cannot find the softplc program's own path: " + ec.message());
  return path;
#endif
}

Result<std::filesystem::path> default_module_path() {
  auto self = executable_path();
  if (!self) return self.error();
#if defined(_WIN32)
  const char* file = "CCodePublic.dll";
#else
  const char* file = "CCodePublic.so";
#endif
  return self->parent_path() / file;
}

#if defined(_WIN32)
FineTimerResolution::FineTimerResolution() : active_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
FineTimerResolution::~FineTimerResolution() {
  if (active_) timeEndPeriod(1);
}
#elif defined(__linux__)
// Linux lets a sleep end up to the thread's timer slack (50 us by default) late, so that wake-ups
// can be grouped; a cycle start wants the deadline itself.
FineTimerResolution::FineTimerResolution() {
  previousSlack_ = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  active_ = previousSlack_ > 0 && prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0) == 0;
}
FineTimerResolution::~FineTimerResolution() {
  if (active_) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(previousSlack_), 0, 0, 0);
}
#else
FineTimerResolution::FineTimerResolution() = default;
FineTimerResolution::~FineTimerResolution() = default;
#endif

}  // namespace softplc
