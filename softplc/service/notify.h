// The service manager's notification protocol (a Type=notify service): readiness, a status line,
// watchdog pings and stopping, as datagrams to the socket that NOTIFY_SOCKET names; and whether the
// standard streams go to the journal, whose lines may carry a syslog priority. Where NOTIFY_SOCKET
// is unset nothing is sent. notify_posix.cpp speaks the protocol with libsystemd; the Windows build
// (notify_win32.cpp) has no service manager of this kind. CMake builds the one that fits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace softplc {

// What the service manager that started softplc listens for.
struct ServiceManager {
  // The watchdog's interval (WATCHDOG_USEC, for this process): pings are expected at least this
  // often; none when the manager keeps no watchdog.
  std::optional<int64_t> watchdogNs;
};

// The service manager, when one listens (NOTIFY_SOCKET is set); none otherwise.
std::optional<ServiceManager> service_manager();

// Sends one notification ("READY=1\nSTATUS=..."); when it cannot be sent (the manager is gone) the
// run goes on without it.
void notify_service_manager(const std::string& state);

// Whether standard error (standard output) is the stream the journal reads for this service
// (JOURNAL_STREAM names its device and inode); a terminal or a redirection is not.
bool standard_error_is_journal();
bool standard_output_is_journal();

}  // namespace softplc
