#include "softplc/live/channel.h"

#include "softplc/util/text.h"

namespace softplc {

bool ListenAddress::loopback() const { return host == "127.0.0.1" || host == "::1" || host == "localhost" || host.rfind("127.", 0) == 0; }

std::string ListenAddress::text() const {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

Result<ListenAddress> parse_listen_address(const std::string& text, const char* option) {
  ListenAddress address;
  std::string portText = text;
  const auto colon = text.rfind(':');
  if (colon != std::string::npos) {
    address.host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']')
      address.host = address.host.substr(1, address.host.size() - 2);
    if (address.host.empty()) {
      return usage_error(std::string(option) + " expects [ADDRESS:]PORT, got '" + text + "' (no address before ':')");
    }
    address.explicitHost = true;
  }
  const std::optional<unsigned> port = whole_number<unsigned>(portText);
  if (!port || *port == 0 || *port > 65535) {
    return usage_error(std::string(option) + " expects [ADDRESS:]PORT with a port from 1 to 65535, got '" + text + "'");
  }
  address.port = static_cast<uint16_t>(*port);
  return address;
}

}  // namespace softplc
