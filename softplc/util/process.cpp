#include "softplc/util/process.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace softplc {

namespace {

#if defined(_WIN32)
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
#endif

int process_id() {
#if defined(_WIN32)
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

}  // namespace

Result<int> run_program(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& missingHint, std::chrono::milliseconds timeout) {
  const std::string tooLong = program + " did not finish within " + std::to_string(timeout.count() / 1000) +
                              " s and was stopped";
#if defined(_WIN32)
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
    return runtime_error(tooLong);
  }
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return static_cast<int>(code);
#else
  std::vector<std::string> texts{program};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int error = posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (error == ENOENT) return runtime_error(program + " not found" + missingHint);
  if (error != 0) return runtime_error("cannot start " + program + ": " + std::strerror(error));
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done == -1 && errno != EINTR) return runtime_error("lost track of " + program + ": " + std::strerror(errno));
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) == -1 && errno == EINTR) {
      }
      return runtime_error(tooLong);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
#endif
}

TemporaryFile::TemporaryFile(const std::string& suffix) {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
  if (ec) folder = ".";
  const unsigned salt = std::random_device{}();
  path_ = folder / ("softplc-" + std::to_string(process_id()) + "-" + std::to_string(salt % 100000) + "-" +
                    std::to_string(counter++) + suffix);
}

TemporaryFile::~TemporaryFile() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

}  // namespace softplc
