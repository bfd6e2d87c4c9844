#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "emulator/ConnectionScript.h"
#include "emulator/EmulatorRecords.h"

namespace oskel::emulator {

// The transport under one emulated session: the emulator's socket code.
class Wire {
 public:
  virtual ~Wire() = default;
  // Messages and the close frame go out in the order they were given.
  virtual void sendText(std::string text) = 0;
  virtual void sendBinary(std::string bytes) = 0;
  virtual void close(std::uint16_t code, std::string reason) = 0;
  virtual void drop() = 0;
  // Stops or resumes reading from the client (TCP flow control then holds it back).
  virtual void setReading(bool reading) = 0;
  // Runs task on the session's thread after delay, unless the connection ended.
  virtual void after(Milliseconds delay, std::function<void()> task) = 0;
};

// The server side of the translation protocol on one accepted connection:
// "session.created", configuration, audio echo, "session.close", and the
// script's deviations. Runs on the emulator's thread only.
class EmulatedSession {
 public:
  struct Setup {
    std::size_t index = 0;
    bool relay = false;
    std::string language;  // relay: the "to" query item; direct: from "session.update"
    std::string model;     // direct: the "model" query item
    bool rejectToken = false;  // relay: close with 4401 at once
    ConnectionScript script;
  };

  EmulatedSession(Wire& wire, Records& records, Setup setup);

  void opened();
  void received(std::string_view bytes, bool binary);
  void perform(const Action& action);
  void ended(std::optional<std::uint16_t> clientCloseCode);

 private:
  void runSteps(Trigger::Kind kind, std::size_t blocks = 0);
  void send(std::string message);
  void sendCreated();
  void sendUpdated();
  void sendClosed();
  void scheduleUpdated();
  void configure(std::string_view text);
  void appendAudio(std::string_view base64);
  void sendError(const std::string& code, const std::string& message);

  Wire& wire_;
  Records& records_;
  Setup setup_;
  std::string sessionID_;
  bool silent_ = false;
  bool closing_ = false;  // a close frame or drop was issued
  bool updatedSent_ = false;
  std::size_t blocks_ = 0;
};

}  // namespace oskel::emulator
