// Helper programs on Windows: _spawnvp with the arguments quoted for the command line, and the
// process's handle waited on.
#include <process.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "softplc/util/process.h"

namespace softplc {

namespace {

// The C runtime joins the arguments into one command line: quote the ones that need it.
std::string windows_argument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

}  // namespace

int process_id() { return _getpid(); }

Result<int> run_program(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& missingHint, std::chrono::milliseconds timeout) {
  std::vector<std::string> texts{windows_argument(program)};
  for (const std::string& argument : arguments) texts.push_back(windows_argument(argument));
  std::vector<const char*> argv;
  for (const std::string& text : texts) argv.push_back(text.c_str());
  argv.push_back(nullptr);
  errno = 0;
  const intptr_t handle = _spawnvp(_P_NOWAIT, program.c_str(), argv.data());
  if (handle == -1) {
    if (errno == ENOENT) return runtime_error(program + " not found" + missingHint);
    return runtime_error("cannot start " + program + ": " + std::strerror(errno));
  }
  const HANDLE process = reinterpret_cast<HANDLE>(handle);
  if (WaitForSingleObject(process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    return runtime_error(detail::program_too_slow(program, timeout));
  }
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return static_cast<int>(code);
}

}  // namespace softplc
