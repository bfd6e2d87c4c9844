#include "audio/UnicodeLowercase.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>

namespace oskel {
namespace {

// A private UTF-8 character-type locale, so lower-casing never depends on the
// process locale.
locale_t utf8Locale() {
  static const locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    return l ? l : newlocale(LC_CTYPE_MASK, "C", nullptr);
  }();
  return locale;
}

// Decodes one code point at text[i]; returns its length, 0 when malformed.
size_t decode(std::string_view text, size_t i, char32_t& out) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i);
  size_t length = 0;
  if (lead < 0x80) {
    out = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    out = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    out = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    out = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    out = (out << 6) | (byte(i + k) & 0x3F);
  }
  return length;
}

void encode(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::string unicodeLowercase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const locale_t locale = utf8Locale();
  for (size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const size_t length = decode(text, i, c);
    if (length == 0) {
      out.push_back(text[i++]);
      continue;
    }
    const auto lower = locale ? towlower_l(static_cast<wint_t>(c), locale) : static_cast<wint_t>(c);
    encode(static_cast<char32_t>(lower), out);
    i += length;
  }
  return out;
}

}  // namespace oskel
