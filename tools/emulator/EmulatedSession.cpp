#include "emulator/EmulatedSession.h"

#include <cmath>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <fmt/format.h>

#include "service/Base64.h"

namespace oskel::emulator {
namespace {

namespace json = boost::json;

constexpr double pcmBytesPerMillisecond = 24000.0 * 2.0 / 1000.0;

std::string serialize(const char* type, json::object members) {
  members["type"] = type;
  return json::serialize(members);
}

// What the records show for a sent message: its type, or its first bytes.
std::string sentTypeOf(const std::string& message) {
  json::error_code error;
  const auto value = json::parse(message, error);
  if (!error && value.is_object())
    if (const auto* type = value.as_object().if_contains("type"); type && type->is_string())
      return std::string(type->as_string());
  return "(raw) " + message.substr(0, 24);
}

json::value expiryOf(const ConnectionScript& script) {
  std::optional<double> seconds;
  if (script.expiresAt) {
    seconds = std::chrono::duration<double>(script.expiresAt->time_since_epoch()).count();
  } else if (script.expiresIn) {
    seconds = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch() + *script.expiresIn)
                  .count();
  }
  if (!seconds) return nullptr;
  // The service sends whole seconds; keep a fraction only when one was asked for.
  if (script.expiresAt && *seconds != std::floor(*seconds)) return *seconds;
  return static_cast<std::int64_t>(std::floor(*seconds));
}

}  // namespace

EmulatedSession::EmulatedSession(Wire& wire, Records& records, Setup setup)
    : wire_(wire),
      records_(records),
      setup_(std::move(setup)),
      sessionID_(setup_.script.sessionID.value_or(fmt::format("sess_emu_{}", setup_.index))) {}

void EmulatedSession::opened() {
  records_.update(setup_.index, [&](ConnectionRecord& r) {
    r.open = true;
    r.sessionID = sessionID_;
    r.language = setup_.language;
  });
  if (setup_.rejectToken) return perform(Action::close(4401, "invalid token"));
  for (const auto& step : setup_.script.steps) {
    if (step.when.kind != Trigger::Kind::elapsed) continue;
    wire_.after(step.when.delay, [this, action = step.what] { perform(action); });
  }
  runSteps(Trigger::Kind::accepted);
  if (setup_.script.sendCreated) sendCreated();
}

void EmulatedSession::received(std::string_view bytes, bool binary) {
  std::string kind;
  json::value message;
  if (binary) {
    kind = "(binary)";
  } else {
    json::error_code error;
    message = json::parse(bytes, error);
    if (error) {
      kind = "(not json)";
    } else if (!message.is_object()) {
      kind = "(not an object)";
    } else if (const auto* type = message.as_object().if_contains("type"); !type || !type->is_string()) {
      kind = "(no type)";
    } else {
      kind = std::string(type->as_string());
    }
  }
  records_.update(setup_.index, [&](ConnectionRecord& r) { r.receivedTypes.push_back(kind); });

  if (kind == "session.update") {
    configure(bytes);
  } else if (kind == "session.input_audio_buffer.append") {
    const auto* audio = message.as_object().if_contains("audio");
    if (!audio || !audio->is_string()) return sendError("missing_audio", "append without a string \"audio\"");
    appendAudio(audio->as_string());
  } else if (kind == "session.close") {
    if (const auto delay = setup_.script.closedDelay) wire_.after(*delay, [this] { sendClosed(); });
  } else if (kind.starts_with("(")) {
    sendError("invalid_event", "the message is not a JSON object with a string \"type\"");
  } else {
    sendError("unknown_event", "unknown event type: " + kind);
  }
}

void EmulatedSession::perform(const Action& action) {
  switch (action.kind) {
    case Action::Kind::sendText:
      return send(action.payload);
    case Action::Kind::sendBinary:
      if (silent_ || closing_) return;
      records_.update(setup_.index, [](ConnectionRecord& r) { r.sentTypes.emplace_back("(binary)"); });
      return wire_.sendBinary(action.payload);
    case Action::Kind::close:
      if (closing_) return;
      closing_ = true;
      return wire_.close(action.closeCode, action.closeReason);
    case Action::Kind::drop:
      if (closing_) return;
      closing_ = true;
      return wire_.drop();
    case Action::Kind::goSilent:
      silent_ = true;
      return;
    case Action::Kind::sendCreated:
      return sendCreated();
    case Action::Kind::sendUpdated:
      return sendUpdated();
    case Action::Kind::sendClosed:
      return sendClosed();
    case Action::Kind::stopReading:
    case Action::Kind::resumeReading:
      return wire_.setReading(action.kind == Action::Kind::resumeReading);
  }
}

void EmulatedSession::ended(std::optional<std::uint16_t> clientCloseCode) {
  closing_ = true;
  records_.update(setup_.index, [&](ConnectionRecord& r) {
    r.open = false;
    r.finished = true;
    r.clientCloseCode = clientCloseCode;
  });
}

void EmulatedSession::runSteps(Trigger::Kind kind, std::size_t blocks) {
  for (const auto& step : setup_.script.steps) {
    if (step.when.kind != kind || (kind == Trigger::Kind::blocks && step.when.blocks != blocks)) continue;
    perform(step.what);
  }
}

void EmulatedSession::send(std::string message) {
  if (silent_ || closing_) return;
  records_.update(setup_.index, [&](ConnectionRecord& r) { r.sentTypes.push_back(sentTypeOf(message)); });
  wire_.sendText(std::move(message));
}

void EmulatedSession::sendCreated() {
  json::object session{{"id", sessionID_}, {"object", "realtime.translation_session"}};
  if (!setup_.model.empty()) session["model"] = setup_.model;
  if (auto expiry = expiryOf(setup_.script); !expiry.is_null()) session["expires_at"] = std::move(expiry);
  send(serialize("session.created", {{"session", std::move(session)}}));
  runSteps(Trigger::Kind::created);
  // The relay configures the session from its query items by itself.
  if (setup_.relay) scheduleUpdated();
}

void EmulatedSession::scheduleUpdated() {
  const auto delay = setup_.script.updatedDelay;
  if (!delay) return;
  if (delay->count() == 0) return sendUpdated();
  wire_.after(*delay, [this] { sendUpdated(); });
}

void EmulatedSession::sendUpdated() {
  json::object output{{"language", setup_.language}};
  send(serialize("session.updated", {{"session", {{"id", sessionID_}, {"audio", {{"output", std::move(output)}}}}}}));
  if (updatedSent_) return;
  updatedSent_ = true;
  runSteps(Trigger::Kind::updated);
}

void EmulatedSession::sendClosed() { send(serialize("session.closed", {{"session", {{"id", sessionID_}}}})); }

void EmulatedSession::configure(std::string_view text) {
  // Only the target language matters to the emulator; the record keeps the rest.
  json::error_code error;
  const auto message = json::parse(text, error);
  const auto* language = message.find_pointer("/session/audio/output/language", error);
  if (!language || !language->is_string()) {
    records_.update(setup_.index, [&](ConnectionRecord& r) { r.sessionUpdate = std::string(text); });
    return sendError("invalid_session", "session.audio.output.language is required");
  }
  setup_.language = std::string(language->as_string());
  records_.update(setup_.index, [&](ConnectionRecord& r) {
    r.sessionUpdate = std::string(text);
    r.language = setup_.language;
  });
  scheduleUpdated();
}

void EmulatedSession::appendAudio(std::string_view base64) {
  const auto pcm16 = Base64::decode(base64);
  if (!pcm16) return sendError("invalid_audio", "\"audio\" is not base64");
  ++blocks_;
  records_.update(setup_.index, [&](ConnectionRecord& r) {
    ++r.audioBlocks;
    r.audioBytes += pcm16->size();
  });
  if (setup_.script.echo && !pcm16->empty()) {
    const auto milliseconds = static_cast<double>(pcm16->size()) / pcmBytesPerMillisecond;
    send(Action::inputTranscript(fmt::format("[heard {:.0f} ms] ", milliseconds)).payload);
    send(Action::outputAudio(*pcm16).payload);
    send(Action::outputTranscript(fmt::format("[{}] {:.0f} ms of audio ", setup_.language, milliseconds)).payload);
  }
  runSteps(Trigger::Kind::blocks, blocks_);
}

void EmulatedSession::sendError(const std::string& code, const std::string& message) {
  send(serialize("error", {{"error", {{"type", "invalid_request_error"}, {"code", code}, {"message", message}}}}));
}

}  // namespace oskel::emulator
