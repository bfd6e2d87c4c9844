#include "TelemetryMessage.h"

#include <cctype>
#include <cmath>
#include <ctime>

#include <boost/json/value.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <fmt/format.h>

namespace oskel::TelemetryMessage {
namespace {

bool isUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not text.
    static constexpr uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
    i += length;
  }
  return true;
}

}  // namespace

std::string timestamp(Clock::WallTime time) {
  const auto milliseconds = std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const auto seconds = static_cast<std::time_t>(std::floor(static_cast<double>(milliseconds) / 1000.0));
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                     utc.tm_hour, utc.tm_min, utc.tm_sec, milliseconds - static_cast<long long>(seconds) * 1000);
}

bool isJsonSafe(const boost::json::value& value) {
  switch (value.kind()) {
    case boost::json::kind::double_: return std::isfinite(value.get_double());
    case boost::json::kind::string: return isUtf8(value.get_string());
    case boost::json::kind::array:
      for (const auto& element : value.get_array())
        if (!isJsonSafe(element)) return false;
      return true;
    case boost::json::kind::object:
      for (const auto& member : value.get_object())
        if (!isUtf8(member.key()) || !isJsonSafe(member.value())) return false;
      return true;
    default: return true;
  }
}

std::optional<boost::json::object> wrap(std::string_view type, boost::json::object payload,
                                        std::string_view anonymousId, Clock::WallTime time,
                                        const boost::json::object& context) {
  if (!isJsonSafe(payload)) return std::nullopt;
  payload["type"] = type;
  payload["messageId"] = newUUID();
  payload["anonymousId"] = anonymousId;
  payload["timestamp"] = timestamp(time);
  payload["context"] = context;
  return payload;
}

std::string newUUID() {
  thread_local boost::uuids::random_generator generate;
  return boost::uuids::to_string(generate());
}

bool isUUID(std::string_view text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

}  // namespace oskel::TelemetryMessage
