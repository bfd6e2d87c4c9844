#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Standard base64 with padding (OpenSSL underneath), as the protocol carries audio.
namespace oskel::emulator::Base64 {

std::string encode(std::span<const std::uint8_t> bytes);
// Nothing when the text is not canonical padded base64.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);

}  // namespace oskel::emulator::Base64
