// The audio server's echo canceller on a synthetic room (testing/audio/sim/
// EchoRoom.h: speaker -> 50 ms, -30 dB loopback -> microphone) with
// speech-like far and near ends at about -20 dBFS. Needs a private server:
//
//   bash scripts/audio-servers.sh run pulseaudio -- build/bench/audio/bench_echo
//   bash scripts/audio-servers.sh run pipewire -- build/bench/audio/bench_echo
//
// Counters: erle_dB (echo return loss enhancement over 4 s after 2 s of
// convergence, far end alone), doubletalk_corr (normalised correlation of
// the canceller's output with the clean near end while both talk;
// doubletalk_corr_raw is the same for the raw microphone),
// added_latency_ms (how much later a near-end click leaves the canceller than
// the raw microphone), server_cpu_plain / server_cpu_echo (the server's share
// of one core with plain capture and playback, and through the canceller).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <numeric>
#include <thread>

#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/VoiceProcessingIO.h"
#include "audio/pulse/PulseAudioHost.h"
#include "audio/sim/EchoRoom.h"
#include "common/Clocks.h"
#include "common/RealtimeLog.h"

using namespace oskel;
using namespace oskel::bench;
using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

namespace {

constexpr double rate = 48000.0;

// A minute of samples appended by one real-time thread, and when the first
// of them was recorded.
class Tape : public RealtimeLog<float> {
 public:
  Tape() : RealtimeLog<float>(static_cast<size_t>(rate * 60)) {}
  void append(std::span<const float> frames) {
    if (size() == 0 && !frames.empty()) {
      const std::chrono::duration<double> recorded(static_cast<double>(frames.size()) / rate);
      start_ = Steady::now() - std::chrono::duration_cast<Steady::duration>(recorded);
    }
    add(frames);
  }
  // Read after the first append.
  Steady::time_point start() const { return start_; }

 private:
  Steady::time_point start_{};
};

double dot(std::span<const float> a, std::span<const float> b) {
  return std::inner_product(a.begin(), a.end(), b.begin(), 0.0, std::plus<>(),
                            [](float x, float y) { return double{x} * double{y}; });
}

double power(std::span<const float> s) { return s.empty() ? 0.0 : dot(s, s) / static_cast<double>(s.size()); }

double correlation(std::span<const float> a, std::span<const float> b) {
  const size_t n = std::min(a.size(), b.size());
  const double aa = dot(a.first(n), a.first(n)), bb = dot(b.first(n), b.first(n));
  return aa > 0 && bb > 0 ? dot(a.first(n), b.first(n)) / std::sqrt(aa * bb) : 0.0;
}

struct Alignment {
  double correlation = -1.0;
  int64_t shift = 0;  // `other` index minus `output` index of the same sound
};

// Best normalised correlation of output[from, from + length) with `other`
// shifted by up to ±maxShift samples: coarse on every 8th shift, then refined.
Alignment align(const Tape& output, size_t from, size_t length, const Tape& other, int64_t maxShift) {
  const auto at = [&](int64_t shift) {
    const int64_t start = static_cast<int64_t>(from) + shift;
    if (start < 0 || static_cast<size_t>(start) + length > other.size()) return -1.0;
    return correlation(output.view(from, from + length),
                       other.view(static_cast<size_t>(start), static_cast<size_t>(start) + length));
  };
  Alignment best;
  for (int64_t shift = -maxShift; shift <= maxShift; shift += 8) {
    if (const double c = at(shift); c > best.correlation) best = {c, shift};
  }
  const int64_t coarse = best.shift;
  for (int64_t shift = coarse - 8; shift <= coarse + 8; ++shift) {
    if (const double c = at(shift); c > best.correlation) best = {c, shift};
  }
  return best;
}

void waitFor(const Tape& tape, double seconds) {
  waitUntil([&] { return tape.size() >= static_cast<size_t>(seconds * rate); }, 30.0);
}

void BM_EchoCanceller(benchmark::State& state) {
  auto host = PulseAudioHost::connect();
  if (!host) return state.SkipWithError(host.error().description().c_str());
  auto room = test::EchoRoom::build();
  if (!room) return state.SkipWithError(room.error().c_str());
  const auto mic = AudioDevices::find(**host, test::EchoRoom::roomName, AudioDevices::Direction::input);
  const auto speaker = AudioDevices::find(**host, test::EchoRoom::speakerName, AudioDevices::Direction::output);
  const auto roomSink = AudioDevices::find(**host, test::EchoRoom::roomName, AudioDevices::Direction::output);
  if (!mic || !speaker || !roomSink) return state.SkipWithError("the room's devices are missing");

  for (auto _ : state) {
    // Plain capture and playback first, for the server's CPU without the canceller.
    {
      test::SpeechLike far(rate, 11);
      auto play = AudioPlayback::make(*host, *speaker, [&far](std::span<float> f) { far.render(f); });
      auto record = AudioCapture::make(*host, *mic, [](std::span<const float>) {});
      if (!play || !record) return state.SkipWithError("plain endpoints failed");
      (void)(*play)->start();
      (void)(*record)->start();
      std::this_thread::sleep_for(1s);
      const double cpu0 = serverCPU();
      const auto t0 = Steady::now();
      std::this_thread::sleep_for(4s);
      state.counters["server_cpu_plain"] =
          (serverCPU() - cpu0) / std::chrono::duration<double>(Steady::now() - t0).count();
    }

    auto io = VoiceProcessingIO::make(*host, *host, *mic, *speaker, {});
    if (!io) return state.SkipWithError(io.error().description().c_str());
    Tape nearTape, output, raw;
    test::SpeechLike far(rate, 11), nearEnd(rate, 23);
    std::atomic<bool> nearTalks{false};
    (*io)->output()->setRender([&](std::span<float> f) { far.render(f); });
    (*io)->input()->setOnFrames([&](std::span<const float> f) { output.append(f); });
    auto rawCapture = AudioCapture::make(*host, *mic, [&](std::span<const float> f) { raw.append(f); });
    auto nearPlay = AudioPlayback::make(*host, *roomSink, [&](std::span<float> f) {
      if (nearTalks.load()) {
        nearEnd.render(f);
      } else {
        std::fill(f.begin(), f.end(), 0.0f);
      }
      nearTape.append(f);
    });
    if (!rawCapture || !nearPlay) return state.SkipWithError("room endpoints failed");
    (void)(*rawCapture)->start();
    (void)(*nearPlay)->start();
    (void)(*io)->input()->start();
    (void)(*io)->output()->start();

    // Far end alone: 2 s to converge, 4 s measured; the server's CPU meanwhile.
    waitFor(output, 2.0);
    const size_t outFrom = output.size(), rawFrom = raw.size();
    const double cpu0 = serverCPU();
    const auto t0 = Steady::now();
    waitFor(output, 6.0);
    state.counters["server_cpu_echo"] =
        (serverCPU() - cpu0) / std::chrono::duration<double>(Steady::now() - t0).count();
    const size_t outTo = output.size(), rawTo = raw.size();
    state.counters["erle_dB"] =
        10.0 * std::log10(power(raw.view(rawFrom, rawTo)) / std::max(power(output.view(outFrom, outTo)), 1e-20));

    // Double talk: both ends for 4 s, judged on the last 2.
    nearTalks = true;
    waitFor(output, static_cast<double>(output.size()) / rate + 4.0);
    const size_t judged = static_cast<size_t>(2.0 * rate);
    const size_t from = output.size() - judged - static_cast<size_t>(rate * 0.6);
    const auto maxShift = static_cast<int64_t>(rate * 0.5);
    state.counters["doubletalk_corr"] = align(output, from, judged, nearTape, maxShift).correlation;
    // The raw microphone against the clean near end: what the echo alone leaves.
    state.counters["doubletalk_corr_raw"] =
        align(raw, raw.size() - judged - static_cast<size_t>(rate * 0.6), judged, nearTape, maxShift).correlation;
    // The same near-end sound on the raw microphone and after the canceller:
    // the tapes' start times turn the sample shift into added latency.
    const auto same = align(output, from, judged, raw, maxShift);
    const double startGap = std::chrono::duration<double>(output.start() - raw.start()).count();
    state.counters["added_latency_ms"] = (startGap - static_cast<double>(same.shift) / rate) * 1000.0;

    (*rawCapture)->stop();
    (*nearPlay)->stop();
    (*io)->close();
  }
}

BENCHMARK(BM_EchoCanceller)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
