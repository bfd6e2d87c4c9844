#pragma once

#include <cstdint>
#include <string>

namespace oskel {

// Four-character codes name transports and formats the way audio hosts
// traditionally do: 'blue' is 0x626C7565.
constexpr uint32_t fourCC(const char (&code)[5]) {
  return (static_cast<uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(code[3]));
}

// "blue" for 'blue'; codes with unprintable bytes as "0x" and eight hex digits.
std::string fourCCText(uint32_t code);

}  // namespace oskel
