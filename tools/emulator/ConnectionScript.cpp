#include "emulator/ConnectionScript.h"

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "service/Base64.h"

namespace oskel::emulator {
namespace {

Action typed(const char* type, boost::json::object members) {
  members["type"] = type;
  return Action::text(boost::json::serialize(members));
}

}  // namespace

Action Action::error(const std::string& message) {
  return typed("error", {{"error", {{"type", "server_error"}, {"code", nullptr}, {"message", message}}}});
}

Action Action::errorString(const std::string& text) { return typed("error", {{"error", text}}); }

Action Action::padded(std::size_t bytes) {
  const std::string head = R"({"type":"emulator.padding","padding":")";
  const std::string tail = R"("})";
  const std::size_t frame = head.size() + tail.size();
  if (bytes <= frame) return text(R"({"type":"emulator.padding"})");
  return text(head + std::string(bytes - frame, 'x') + tail);
}

Action Action::outputAudio(std::span<const std::uint8_t> pcm16) {
  return typed("session.output_audio.delta", {{"delta", Base64::encode(pcm16)}});
}

Action Action::outputTranscript(const std::string& delta) {
  return typed("session.output_transcript.delta", {{"delta", delta}});
}

Action Action::inputTranscript(const std::string& delta) {
  return typed("session.input_transcript.delta", {{"delta", delta}});
}

}  // namespace oskel::emulator
