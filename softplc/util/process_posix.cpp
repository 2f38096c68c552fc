// Helper programs on Linux: posix_spawnp, and waitpid polled against the deadline.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "softplc/util/process.h"

extern char** environ;

namespace softplc {

int process_id() { return static_cast<int>(getpid()); }

Result<int> run_program(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string& missingHint, std::chrono::milliseconds timeout) {
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
      return runtime_error(detail::program_too_slow(program, timeout));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace softplc
