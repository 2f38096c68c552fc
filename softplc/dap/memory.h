// Bytes as the Debug Adapter Protocol carries them: base64 (RFC 4648, with padding).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/util/result.h"

namespace softplc::dap {

std::string base64_encode(std::span<const uint8_t> bytes);
// Refuses text that is not base64 (a character outside its alphabet, a length not a multiple of 4).
Result<std::vector<uint8_t>> base64_decode(std::string_view text);

}  // namespace softplc::dap
