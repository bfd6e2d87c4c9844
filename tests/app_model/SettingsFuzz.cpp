// Any stored settings text either decodes to settings that survive their
// own round trip, or is refused; it never crashes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto settings = oskel::AppSettings::decode(text)) {
    const auto again = oskel::AppSettings::decode(settings->encode());
    if (!again || !(*again == *settings)) std::abort();
    (void)settings->sessionSignature();
  }
  return 0;
}
