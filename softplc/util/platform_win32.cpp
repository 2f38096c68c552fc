// The platform's surroundings on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <timeapi.h>

#include <cstdio>
#include <vector>

#include "softplc/util/platform.h"

namespace softplc {

Result<std::filesystem::path> executable_path() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return runtime_error("cannot find the softplc program's own path");
    if (length < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

const char* library_suffix() { return ".dll"; }

bool stdin_is_terminal() { return _isatty(_fileno(stdin)) != 0; }

void binary_stdio() {
  (void)_setmode(_fileno(stdin), _O_BINARY);
  (void)_setmode(_fileno(stdout), _O_BINARY);
}

const char* gnuplot_install_hint() {
  return ": install gnuplot for Windows and put its bin folder on PATH to draw plots";
}

FineTimerResolution::FineTimerResolution() : active_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

FineTimerResolution::~FineTimerResolution() {
  if (active_) timeEndPeriod(1);
}

}  // namespace softplc
