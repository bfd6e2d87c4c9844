#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <boost/json/object.hpp>

#include "concurrency/Clock.h"

// The envelope every telemetry message travels in.
namespace oskel::TelemetryMessage {

// ISO 8601 in UTC with milliseconds: "2025-01-31T09:15:02.123Z".
std::string timestamp(Clock::WallTime time);

// False when the value holds something JSON cannot carry: a number that is
// not finite, or text (or a key) that is not UTF-8.
bool isJsonSafe(const boost::json::value& value);

// The payload plus "type", a fresh "messageId", "anonymousId", "timestamp"
// and "context"; none when the payload is not JSON-safe.
std::optional<boost::json::object> wrap(std::string_view type, boost::json::object payload,
                                        std::string_view anonymousId, Clock::WallTime time,
                                        const boost::json::object& context);

// A random (version 4) UUID in its standard lower-case text form.
std::string newUUID();
bool isUUID(std::string_view text);

}  // namespace oskel::TelemetryMessage
