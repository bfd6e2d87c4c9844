#include "emulator/Base64.h"

#include <algorithm>
#include <cctype>

#include <openssl/evp.h>

namespace oskel::emulator::Base64 {

std::string encode(std::span<const std::uint8_t> bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                      static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(std::max(written, 0)));
  return text;
}

std::optional<std::vector<std::uint8_t>> decode(std::string_view text) {
  // EVP_DecodeBlock tolerates blanks and keeps padding bytes; be strict first.
  if (text.size() % 4 != 0) return std::nullopt;
  const auto padding = static_cast<std::size_t>(text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0);
  const auto isAlphabet = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/'; };
  if (!std::all_of(text.begin(), text.end() - static_cast<std::ptrdiff_t>(padding), isAlphabet)) return std::nullopt;
  std::vector<std::uint8_t> bytes(text.size() / 4 * 3);
  const int decoded = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                      static_cast<int>(text.size()));
  if (decoded < 0) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(decoded) - padding);
  return bytes;
}

}  // namespace oskel::emulator::Base64
