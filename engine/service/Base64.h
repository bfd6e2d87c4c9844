#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Standard base64 (RFC 4648 alphabet, with padding, no line breaks), as the
// realtime service carries audio inside JSON text.
namespace oskel::Base64 {

constexpr std::size_t encodedSize(std::size_t bytes) { return (bytes + 2) / 3 * 4; }

// Writes exactly encodedSize(bytes.size()) characters to `out`.
void encodeInto(std::span<const uint8_t> bytes, char* out);
std::string encode(std::span<const uint8_t> bytes);

// Strict decoding: a length that is a multiple of four, only alphabet
// characters, and at most two '=' at the very end. Anything else is nullopt.
std::optional<std::vector<uint8_t>> decode(std::string_view text);

}  // namespace oskel::Base64
