// Windows has no service manager that speaks this protocol: nothing listens, nothing is sent.
#include "softplc/service/notify.h"

namespace softplc {

std::optional<ServiceManager> service_manager() { return std::nullopt; }

void notify_service_manager(const std::string&) {}

bool standard_error_is_journal() { return false; }
bool standard_output_is_journal() { return false; }

}  // namespace softplc
