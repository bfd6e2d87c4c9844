#include <benchmark/benchmark.h>

#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/sim/SimulatedAudioHost.h"

using namespace oskel;

namespace {

SimulatedAudioHost::Device stereo(const char* uid, bool input) {
  SimulatedAudioHost::Device device;
  device.name = uid;
  device.uid = uid;
  (input ? device.inputStreams : device.outputStreams) = {2};
  return device;
}

}  // namespace

// One 10 ms cycle of a stereo capture and a stereo playback at 48 kHz (the
// simulated host's own copying included); arg 1 runs both through a rate
// bridge (device at 44.1 kHz). Items are frames: divide 48000 by the rate
// shown for the share of one core per second of audio.
static void BM_CaptureAndPlaybackCycle(benchmark::State& state) {
  auto host = SimulatedAudioHost::make();
  const auto mic = *AudioDevices::info(*host, host->add(stereo("mic", true)));
  const auto speaker = *AudioDevices::info(*host, host->add(stereo("speaker", false)));
  float sink = 0.0f;
  auto capture = AudioCapture::make(host, mic, [&](std::span<const float> frames) { sink += frames.back(); });
  auto playback = AudioPlayback::make(host, speaker, [](std::span<float> frames) {
    std::fill(frames.begin(), frames.end(), 0.25f);
  });
  (void)(*capture)->start();
  (void)(*playback)->start();
  const bool bridged = state.range(0) != 0;
  if (bridged) {
    host->setNominalRate(mic.id, 44100);
    host->setNominalRate(speaker.id, 44100);
  }
  const uint32_t frames = bridged ? 441 : 480;
  for (auto _ : state) {
    host->step(frames);
    benchmark::DoNotOptimize(sink);
  }
  state.SetItemsProcessed(state.iterations() * 480);
}
BENCHMARK(BM_CaptureAndPlaybackCycle)->Arg(0)->Arg(1);
