#include "softplc/live/http/http_channel.h"

namespace softplc {

Result<std::unique_ptr<LiveChannel>> make_http_channel(const HttpOptions&, const Plc&, Exchange&, const RunStatus&) {
  return runtime_error("--http: this softplc was built without the web view");
}

}  // namespace softplc
