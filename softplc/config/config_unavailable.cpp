// A build without a YAML library for its platform: configuration files are refused with the reason.
#include "softplc/config/config_file.h"

#include "softplc/util/files.h"

namespace softplc {

Result<RunConfig> read_run_config(const std::filesystem::path& file) {
  return usage_error("cannot read configuration " + display_path(file) +
                     ": this softplc was built without configuration files (no YAML library for its platform)");
}

std::string describe_config(const RunConfig&) { return {}; }

}  // namespace softplc
