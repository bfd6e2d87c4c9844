#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace oskel::test {

// A room made of a real audio server's own modules, for the echo tests and
// benchmark: a speaker (null sink "Echo_Speaker") whose output comes back,
// delayed and attenuated by a loopback, into the room (null sink "Echo_Room"),
// which the microphone (source "Echo_Room_Mic", remapped over the room's
// monitor) records. Near-end speech is played into the room. Talks to the
// server with pactl; everything it loaded is unloaded, by index, on
// destruction.
class EchoRoom {
 public:
  // Descriptions without spaces: no quoting through pactl on either server.
  static constexpr const char* speakerName = "Echo_Speaker";
  static constexpr const char* roomName = "Echo_Room";
  static constexpr const char* micNode = "oskel_test_room_mic";

  static std::expected<std::unique_ptr<EchoRoom>, std::string> build(double echoDecibels = -30.0, int delayMs = 50);
  ~EchoRoom();
  EchoRoom(const EchoRoom&) = delete;
  EchoRoom& operator=(const EchoRoom&) = delete;

  // The microphone unplugged and plugged back in.
  std::expected<void, std::string> removeMicrophone();
  std::expected<void, std::string> restoreMicrophone();

 private:
  EchoRoom() = default;
  std::vector<uint32_t> modules_;  // in load order
  uint32_t micModule_ = 0;
};

// Runs pactl with the arguments; its output, or why it failed.
std::expected<std::string, std::string> pactl(const std::string& arguments);

// Deterministic speech-like sound: voiced syllables of 120 to 300 ms with a
// gliding pitch and moving formants, separated by short pauses.
class SpeechLike {
 public:
  SpeechLike(double rate, uint32_t seed, float peak = 0.3f);
  void render(std::span<float> frames);

 private:
  void nextSyllable();

  double rate_;
  std::mt19937 random_;
  float peak_;
  int64_t left_ = 0;       // samples left in the current syllable or pause
  int64_t length_ = 1;
  bool voiced_ = false;
  double pitch_ = 120.0, pitchEnd_ = 120.0;
  double formant1_ = 600.0, formant2_ = 1500.0;
  double phase_ = 0.0;
};

}  // namespace oskel::test
