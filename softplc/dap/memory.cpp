#include "softplc/dap/memory.h"

#include <boost/beast/core/detail/base64.hpp>

namespace softplc::dap {

namespace base64 = boost::beast::detail::base64;

std::string base64_encode(std::span<const uint8_t> bytes) {
  std::string text(base64::encoded_size(bytes.size()), '\0');
  text.resize(base64::encode(text.data(), bytes.data(), bytes.size()));
  return text;
}

Result<std::vector<uint8_t>> base64_decode(std::string_view text) {
  const auto fault = [&] {
    return usage_error("the data is not base64: " + std::to_string(text.size()) +
                       " characters; base64 comes in groups of 4 of A-Z, a-z, 0-9, + and /, padded with =");
  };
  if (text.size() % 4 != 0) return fault();
  std::vector<uint8_t> bytes(base64::decoded_size(text.size()));
  const auto [written, read] = base64::decode(bytes.data(), text.data(), text.size());
  // The decoder stops at the first character outside the alphabet; only padding may follow.
  for (std::size_t i = read; i < text.size(); ++i)
    if (text[i] != '=' || text.size() - i > 2) return fault();
  bytes.resize(written);
  return bytes;
}

}  // namespace softplc::dap
