// The notification protocol on Linux: libsystemd's sd_notify and sd_watchdog_enabled.
#include <systemd/sd-daemon.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "softplc/service/notify.h"

namespace softplc {

namespace {

// JOURNAL_STREAM is "DEVICE:INODE" of the stream the journal reads; a stream the service's output
// was redirected to since (a pipe of its own, a file) has another.
bool is_journal(int fd) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  uintmax_t device = 0;
  uintmax_t inode = 0;
  if (stream == nullptr || std::sscanf(stream, "%" SCNuMAX ":%" SCNuMAX, &device, &inode) != 2) return false;
  struct stat status {};
  if (fstat(fd, &status) != 0) return false;
  return static_cast<uintmax_t>(status.st_dev) == device && static_cast<uintmax_t>(status.st_ino) == inode;
}

}  // namespace

std::optional<ServiceManager> service_manager() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || *socket == '\0') return std::nullopt;
  ServiceManager manager;
  // Set for this process only (WATCHDOG_PID, when given, names it).
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) manager.watchdogNs = static_cast<int64_t>(usec) * 1000;
  return manager;
}

void notify_service_manager(const std::string& state) { (void)sd_notify(0, state.c_str()); }

bool standard_error_is_journal() { return is_journal(STDERR_FILENO); }
bool standard_output_is_journal() { return is_journal(STDOUT_FILENO); }

}  // namespace softplc
