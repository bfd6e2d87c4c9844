#include "audio/sim/EchoRoom.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>
#include <sstream>

#include <fmt/format.h>

#include <unistd.h>

namespace oskel::test {

std::expected<std::string, std::string> pactl(const std::string& arguments) {
  const std::string command = "pactl " + arguments + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::unexpected("cannot run pactl");
  std::string output;
  std::array<char, 4096> chunk{};
  while (const size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe)) output.append(chunk.data(), n);
  const int status = ::pclose(pipe);
  if (status != 0) return std::unexpected(fmt::format("pactl {}: {}", arguments, output));
  return output;
}

namespace {

std::expected<uint32_t, std::string> load(const std::string& arguments) {
  auto output = pactl("load-module " + arguments);
  if (!output) return std::unexpected(output.error());
  return static_cast<uint32_t>(std::stoul(*output));
}

// The sink input a module created, from the long listing.
std::optional<std::string> sinkInputOf(uint32_t module) {
  auto listing = pactl("list sink-inputs");
  if (!listing) return std::nullopt;
  std::istringstream lines(*listing);
  std::string line, current;
  while (std::getline(lines, line)) {
    if (line.starts_with("Sink Input #")) current = line.substr(12);
    if (line.find("Owner Module: " + std::to_string(module)) != std::string::npos) return current;
  }
  return std::nullopt;
}

// PipeWire creates a module's nodes a moment after the load returns.
bool appears(const std::string& kind, const std::string& node) {
  for (int tries = 0; tries < 150; ++tries) {
    if (pactl("list short " + kind).value_or("").contains(node)) return true;
    ::usleep(20000);
  }
  return false;
}

std::string micArguments() {
  return fmt::format(
      "module-remap-source master=oskel_test_room.monitor source_name={} "
      "source_properties=device.description=Echo_Room_Mic rate=48000 channels=1",
      EchoRoom::micNode);
}

}  // namespace

std::expected<std::unique_ptr<EchoRoom>, std::string> EchoRoom::build(double echoDecibels, int delayMs) {
  std::unique_ptr<EchoRoom> room(new EchoRoom());
  const auto step = [&](const std::string& arguments) -> std::expected<uint32_t, std::string> {
    auto index = load(arguments);
    if (index) room->modules_.push_back(*index);
    return index;
  };
  const std::array<std::string, 2> sinks{
      "module-null-sink sink_name=oskel_test_speaker sink_properties=device.description=Echo_Speaker rate=48000 "
      "channels=1",
      "module-null-sink sink_name=oskel_test_room sink_properties=device.description=Echo_Room rate=48000 "
      "channels=1"};
  for (const auto& sink : sinks) {
    if (auto made = step(sink); !made) return std::unexpected(made.error());
  }
  auto loopback = step(fmt::format(
      "module-loopback source=oskel_test_speaker.monitor sink=oskel_test_room latency_msec={} "
      "source_dont_move=true sink_dont_move=true",
      delayMs));
  if (!loopback) return std::unexpected(loopback.error());
  std::optional<std::string> input;
  for (int tries = 0; tries < 100 && !(input = sinkInputOf(*loopback)); ++tries) ::usleep(20000);
  if (!input) return std::unexpected("the loopback's sink input did not appear");
  if (auto set = pactl(fmt::format("set-sink-input-volume {} {}dB", *input, echoDecibels)); !set) {
    return std::unexpected(set.error());
  }
  auto mic = step(micArguments());
  if (!mic) return std::unexpected(mic.error());
  room->micModule_ = *mic;
  if (!appears("sinks", "oskel_test_speaker") || !appears("sinks", "oskel_test_room") ||
      !appears("sources", micNode)) {
    return std::unexpected("the room's devices did not appear");
  }
  return room;
}

EchoRoom::~EchoRoom() {
  for (auto it = modules_.rbegin(); it != modules_.rend(); ++it) (void)pactl(fmt::format("unload-module {}", *it));
}

std::expected<void, std::string> EchoRoom::removeMicrophone() {
  if (auto done = pactl(fmt::format("unload-module {}", micModule_)); !done) return std::unexpected(done.error());
  std::erase(modules_, micModule_);
  return {};
}

std::expected<void, std::string> EchoRoom::restoreMicrophone() {
  auto mic = load(micArguments());
  if (!mic) return std::unexpected(mic.error());
  micModule_ = *mic;
  modules_.push_back(*mic);
  if (!appears("sources", micNode)) return std::unexpected("the microphone did not come back");
  return {};
}

SpeechLike::SpeechLike(double rate, uint32_t seed, float peak) : rate_(rate), random_(seed), peak_(peak) {}

void SpeechLike::nextSyllable() {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  voiced_ = !voiced_;
  const double seconds = voiced_ ? 0.12 + 0.18 * unit(random_) : 0.04 + 0.12 * unit(random_);
  length_ = left_ = std::max<int64_t>(1, static_cast<int64_t>(seconds * rate_));
  pitch_ = 100.0 + 80.0 * unit(random_);
  pitchEnd_ = pitch_ * (0.8 + 0.4 * unit(random_));
  formant1_ = 350.0 + 500.0 * unit(random_);
  formant2_ = 1000.0 + 1400.0 * unit(random_);
}

void SpeechLike::render(std::span<float> frames) {
  for (float& sample : frames) {
    if (left_ <= 0) nextSyllable();
    const double progress = 1.0 - static_cast<double>(left_) / static_cast<double>(length_);
    --left_;
    if (!voiced_) {
      sample = 0.0f;
      continue;
    }
    const double pitch = pitch_ + (pitchEnd_ - pitch_) * progress;
    phase_ += 2.0 * std::numbers::pi * pitch / rate_;
    if (phase_ > 2.0 * std::numbers::pi) phase_ -= 2.0 * std::numbers::pi;
    double value = 0.0;
    for (int k = 1; pitch * k < 4000.0; ++k) {
      const double f = pitch * k;
      const auto resonance = [f](double centre, double width) {
        const double d = (f - centre) / width;
        return 1.0 / (1.0 + d * d);
      };
      value += (resonance(formant1_, 120.0) + 0.6 * resonance(formant2_, 180.0) + 0.05) / k * std::sin(k * phase_);
    }
    const double envelope = std::sin(std::numbers::pi * progress);
    sample = static_cast<float>(double{peak_} * 0.8 * envelope * value);
  }
}

}  // namespace oskel::test
