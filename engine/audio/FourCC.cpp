#include "audio/FourCC.h"

#include <fmt/format.h>

namespace oskel {

std::string fourCCText(uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<char>((code >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E) return fmt::format("0x{:08X}", code);
    text.push_back(c);
  }
  return text;
}

}  // namespace oskel
