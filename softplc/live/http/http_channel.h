// The web view: a JSON API and a page in the browser, served while the cycles run.
#pragma once

#include <memory>
#include <string>

#include "softplc/live/channel.h"
#include "softplc/live/exchange.h"
#include "softplc/live/status.h"
#include "softplc/plc/plc.h"

namespace softplc {

struct HttpOptions {
  ListenAddress address;
  std::string token;       // writes from other than loopback need "Authorization: Bearer TOKEN"
  bool readOnly = false;
};

Result<std::unique_ptr<LiveChannel>> make_http_channel(const HttpOptions& options, const Plc& plc, Exchange& exchange,
                                                       const RunStatus& status);

}  // namespace softplc
