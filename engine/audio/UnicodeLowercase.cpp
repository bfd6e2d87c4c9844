#include "audio/UnicodeLowercase.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace oskel {

// ICU's own case tables: the same result whatever locales the system has or
// the process selected.
std::string unicodeLowercase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {  // malformed: keep the bytes as they are
      out.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
      continue;
    }
    uint8_t encoded[U8_MAX_LENGTH];
    int32_t size = 0;
    U8_APPEND_UNSAFE(encoded, size, u_tolower(c));
    out.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(size));
  }
  return out;
}

}  // namespace oskel
