// Arbitrary bytes into both WAV readers: they must return audio or an error,
// never crash, read out of bounds or divide by zero.
#include <cstddef>
#include <cstdint>
#include <span>

#include "recording/WAV.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  if (const auto info = oskel::WAV::parseInfo(bytes.first(std::min<size_t>(size, 65536)))) {
    if (info->channels < 1 || info->bitsPerSample < 8) __builtin_trap();
  }
  if (const auto audio = oskel::WAV::parse(bytes)) {
    if (audio->samples.size() > size) __builtin_trap();
  }
  return 0;
}
