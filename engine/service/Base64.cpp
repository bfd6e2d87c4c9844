#include "service/Base64.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>

namespace oskel::Base64 {

namespace {

constexpr std::array<bool, 256> makeAlphabet() {
  std::array<bool, 256> member{};
  for (char c = 'A'; c <= 'Z'; ++c) member[static_cast<unsigned char>(c)] = true;
  for (char c = 'a'; c <= 'z'; ++c) member[static_cast<unsigned char>(c)] = true;
  for (char c = '0'; c <= '9'; ++c) member[static_cast<unsigned char>(c)] = true;
  member['+'] = true;
  member['/'] = true;
  return member;
}
constexpr auto alphabet = makeAlphabet();

// OpenSSL takes int lengths; larger inputs go through in slices that keep
// the 3-byte (encode) and 4-character (decode) grouping.
constexpr std::size_t encodeSlice = std::size_t{3} << 28;
constexpr std::size_t decodeSlice = std::size_t{4} << 28;

}  // namespace

void encodeInto(std::span<const uint8_t> bytes, char* out) {
  while (!bytes.empty()) {
    const auto part = bytes.first(std::min(bytes.size(), encodeSlice));
    // EVP_EncodeBlock also writes a terminating NUL; encode all but the last
    // group straight into `out`, and the last one through a small buffer.
    const std::size_t whole = part.size() >= 3 ? (part.size() - 1) / 3 * 3 : 0;
    if (whole > 0) {
      // Writes 4*whole/3 characters plus a NUL that the last group overwrites.
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out), part.data(), static_cast<int>(whole));
      out += whole / 3 * 4;
    }
    std::array<unsigned char, 5> tail{};
    EVP_EncodeBlock(tail.data(), part.data() + whole, static_cast<int>(part.size() - whole));
    const std::size_t tailChars = encodedSize(part.size() - whole);
    for (std::size_t i = 0; i < tailChars; ++i) out[i] = static_cast<char>(tail[i]);
    out += tailChars;
    bytes = bytes.subspan(part.size());
  }
}

std::string encode(std::span<const uint8_t> bytes) {
  std::string text(encodedSize(bytes.size()), '\0');
  encodeInto(bytes, text.data());
  return text;
}

std::optional<std::vector<uint8_t>> decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
  for (std::size_t i = 0; i < text.size() - padding; ++i)
    if (!alphabet[static_cast<unsigned char>(text[i])]) return std::nullopt;

  std::vector<uint8_t> bytes(text.size() / 4 * 3);
  std::size_t written = 0;
  for (std::size_t at = 0; at < text.size(); at += decodeSlice) {
    const std::size_t length = std::min(decodeSlice, text.size() - at);
    const int produced = EVP_DecodeBlock(bytes.data() + written, reinterpret_cast<const unsigned char*>(text.data() + at),
                                         static_cast<int>(length));
    if (produced < 0) return std::nullopt;
    written += static_cast<std::size_t>(produced);
  }
  // EVP_DecodeBlock counts the zero bytes that stand for padding.
  bytes.resize(written - padding);
  return bytes;
}

}  // namespace oskel::Base64
