#pragma once

#include <cstdint>

#include "audio/FourCC.h"

// Transport types a device reports: how it is attached to the machine.
namespace oskel::AudioTransport {

inline constexpr uint32_t unknown = 0;
inline constexpr uint32_t builtIn = fourCC("bltn");
inline constexpr uint32_t aggregate = fourCC("grup");
inline constexpr uint32_t virtualDevice = fourCC("virt");
inline constexpr uint32_t pci = fourCC("pci ");
inline constexpr uint32_t usb = fourCC("usb ");
inline constexpr uint32_t fireWire = fourCC("1394");
inline constexpr uint32_t bluetooth = fourCC("blue");
inline constexpr uint32_t bluetoothLE = fourCC("blea");
inline constexpr uint32_t hdmi = fourCC("hdmi");
inline constexpr uint32_t displayPort = fourCC("dprt");
inline constexpr uint32_t airPlay = fourCC("airp");
inline constexpr uint32_t thunderbolt = fourCC("thun");

}  // namespace oskel::AudioTransport
