#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "audio/AudioDevices.h"
#include "audio/LoopbackDevices.h"
#include "audio/sim/SimulatedAudioHost.h"
#include "concurrency/ManualClock.h"
#include "orchestration/Conversation.h"
#include "orchestration/Playground.h"
#include "orchestration/Translator.h"
#include "pipeline/TranscriptConsole.h"
#include "session/FakeWebSocket.h"
#include "support/LogCapture.h"

namespace oskel::test {
namespace {

SimulatedAudioHost::Device device(std::string name, std::string uid, bool input, bool output,
                                  std::optional<uint32_t> transport = std::nullopt) {
  SimulatedAudioHost::Device d;
  d.name = std::move(name);
  d.uid = std::move(uid);
  d.transportType = transport;
  if (input) d.inputStreams = {1};
  if (output) d.outputStreams = {2};
  return d;
}

// A machine with a microphone, a speaker and the two loopback devices on the
// simulated host; sessions talk to scripted sockets on a manual clock, and
// the orchestrator's events are handled on a serial queue of that clock.
class Orchestrators : public ::testing::Test {
 protected:
  Orchestrators() {
    speaker = host->add(device("Desk Speaker", "speaker", false, true));
    host->setDefault(AudioScope::input, host->add(device("Desk Mic", "mic", true, false)));
    host->setDefault(AudioScope::output, speaker);
    for (const auto& spec : LoopbackDevices::specs()) EXPECT_TRUE(host->installLoopbackDevice(spec));
    environment.host = host;
    environment.eventQueue = [queue = events](std::function<void()> task) { queue->post(std::move(task)); };
    environment.clock = clock;
    environment.sessionEnvironment = TranslationSession::Environment{clock, client, nullptr};
    environment.console = &console;
  }
  // Whatever a test left running is stopped within the slow bound.
  ~Orchestrators() override {
    for (const auto& stop : stops) stop();
    clock->advanceSeconds(4.0);
    clock->settle();
  }

  template <class Orchestrator>
  std::shared_ptr<Orchestrator> make() {
    auto made = Orchestrator::make(config, environment);
    EXPECT_TRUE(made) << (made ? "" : made.error().description());
    if (!made) return nullptr;
    stops.push_back([orchestrator = *made] { orchestrator->stop(true, {}); });
    (*made)->setOnEvent([this](const TranslatorEvent& event) {
      std::lock_guard guard(mutex);
      seen.push_back(event);
    });
    return *made;
  }

  std::vector<TranslatorEvent> received() {
    std::lock_guard guard(mutex);
    return seen;
  }
  std::vector<TranslatorState> states() {
    std::vector<TranslatorState> result;
    for (const auto& event : received())
      if (const auto* state = std::get_if<TranslatorEvents::State>(&event)) result.push_back(state->state);
    return result;
  }

  // Every connection made so far says "session.created" and "session.updated".
  void allLive() {
    clock->settle();  // the sessions open their connections on their own queues
    for (size_t i = 0; i < client->count(); ++i) {
      client->at(i)->receive(R"({"type":"session.created","session":{"id":"s"}})");
      client->at(i)->receive(R"({"type":"session.updated"})");
    }
    clock->settle();
  }

  LogCapture log;
  std::shared_ptr<SimulatedAudioHost> host = SimulatedAudioHost::make();
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<SerialQueue> events = std::make_shared<SerialQueue>("test.events", clock);
  std::shared_ptr<FakeWebSocketClient> client = std::make_shared<FakeWebSocketClient>();
  TranscriptConsole console{[](std::string_view) {}};
  OrchestratorEnvironment environment;
  TranslatorConfig config{TranslationCredential::oskel("t"), "en", "es"};
  AudioDeviceID speaker = 0;
  std::mutex mutex;
  std::vector<TranslatorEvent> seen;
  std::vector<std::function<void()>> stops;
};

using namespace TranslatorStates;

TEST_F(Orchestrators, ACallRefusesMissingDefaultsMissingLoopbackDevicesAndALoopbackDeviceAsTheRealOne) {
  host->setDefault(AudioScope::output, std::nullopt);
  auto noDefaults = Translator::make(config, environment);
  ASSERT_FALSE(noDefaults);
  EXPECT_EQ(noDefaults.error().translator, TranslatorError::noDefaultDevices());
  host->setDefault(AudioScope::output, speaker);

  config.virtualSpeaker = "Nowhere Speaker";
  auto noDriver = Translator::make(config, environment);
  ASSERT_FALSE(noDriver);
  EXPECT_TRUE(noDriver.error().description().starts_with("the Oskel virtual audio devices are not available (no audio device matches \"Nowhere Speaker\""))
      << noDriver.error().description();

  config.virtualSpeaker = "Oskel Speaker";
  config.microphone = *AudioDevices::find(*host, "Oskel Microphone", AudioDevices::Direction::input);
  auto sameDevice = Translator::make(config, environment);
  ASSERT_FALSE(sameDevice);
  EXPECT_EQ(sameDevice.error().description(),
            "Oskel Microphone cannot be both a Oskel virtual device and your real microphone/speaker");
}

TEST_F(Orchestrators, ACallGoesLiveOnlyWhenBothDirectionsAreReadyAndReconnectsAfterADrop) {
  auto call = make<Translator>();
  ASSERT_TRUE(call->start());
  clock->settle();
  EXPECT_EQ(states(), (std::vector<TranslatorState>{Starting{}, Connecting{}}));
  EXPECT_EQ(client->count(), 2u);
  EXPECT_EQ(call->outgoing().config().label, "en\u2192es");
  EXPECT_EQ(call->incoming().config().options.targetLanguage, "en");
  EXPECT_EQ(call->outgoing().config().options.noiseReduction, "near_field");
  EXPECT_EQ(call->incoming().config().options.noiseReduction, "far_field");

  call->handle(CallDirection::incoming, PipelineEvents::Disconnected{"early"});
  EXPECT_EQ(call->state(), TranslatorState{Connecting{}});  // never live yet
  client->at(0)->receive(R"({"type":"session.updated"})");
  clock->settle();
  EXPECT_EQ(call->state(), TranslatorState{Connecting{}});  // one direction is not enough
  client->at(1)->receive(R"({"type":"session.updated"})");
  clock->settle();
  EXPECT_EQ(call->state(), TranslatorState{Live{}});
  call->handle(CallDirection::outgoing, PipelineEvents::Disconnected{"drop"});
  EXPECT_EQ(call->state(), TranslatorState{Reconnecting{}});
  call->handle(CallDirection::outgoing, PipelineEvents::Ready{});
  EXPECT_EQ(call->state(), TranslatorState{Live{}});

  call->handle(CallDirection::incoming, PipelineEvents::Transcript{TranscriptKind::heard, "hola"});
  EXPECT_EQ(received().back(),
            TranslatorEvent(TranslatorEvents::Transcript{{CallDirection::incoming, TranscriptKind::heard, "hola"}}));

  std::atomic<bool> stopped = false;
  call->stop(true, [&] { stopped = true; });
  EXPECT_EQ(call->state(), TranslatorState{Stopping{}});
  call->handle(CallDirection::outgoing, PipelineEvents::Fatal{"late"});  // ignored while stopping
  clock->advanceSeconds(0.3);  // the fast drain bound
  clock->settle();
  EXPECT_TRUE(stopped);
  EXPECT_EQ(call->state(), TranslatorState{Idle{}});

  const auto before = states().size();
  bool again = false;
  call->stop(false, [&] { again = true; });  // idle: at once, no event
  EXPECT_TRUE(again);
  EXPECT_EQ(states().size(), before);
}

TEST_F(Orchestrators, ASignOutKeepsTheCallGoingInPassthroughAndAFatalErrorFailsIt) {
  auto call = make<Translator>();
  ASSERT_TRUE(call->start());
  allLive();
  call->handle(CallDirection::incoming, PipelineEvents::SignedOut{});
  EXPECT_EQ(call->state(), TranslatorState{Passthrough{}});
  EXPECT_TRUE(call->outgoing().isPassthrough());
  EXPECT_TRUE(call->incoming().isPassthrough());
  EXPECT_EQ(received().back(), TranslatorEvent(TranslatorEvents::SignedOut{}));
  call->handle(CallDirection::outgoing, PipelineEvents::Fatal{"ignored in passthrough"});
  EXPECT_EQ(call->state(), TranslatorState{Passthrough{}});

  auto other = make<Translator>();
  ASSERT_TRUE(other->start());
  other->handle(CallDirection::outgoing, PipelineEvents::Fatal{"OpenAI rejected the API key (bad)"});
  EXPECT_EQ(other->state(), TranslatorState{Failed{"OpenAI rejected the API key (bad)"}});
}

TEST_F(Orchestrators, VoiceOverGoesOnlyWhereItsDirectionsSayTheSummaryDescribesTheCallAndEarlyReadinessCounts) {
  config.voiceOver = TranslatorConfig::VoiceOver{-12, -24, TranslatorConfig::VoiceOver::Directions::incoming};
  config.groupCall = true;
  auto call = make<Translator>();
  EXPECT_FALSE(call->outgoing().config().voiceOverGainDB);
  EXPECT_EQ(call->incoming().config().voiceOverGainDB, -12);
  EXPECT_EQ(call->incoming().config().voiceOverDuckDB, -24);
  EXPECT_FALSE(call->incoming().config().options.noiseReduction);  // group call
  EXPECT_EQ(call->incoming().config().normalizerResponse, InputNormalizer::Response::room);
  EXPECT_EQ(call->summary(),
            "you  (Desk Mic) --en\u2192es--> Oskel Microphone   \u2190 select this as Zoom's Microphone\n"
            "them (Oskel Speaker) --es\u2192en--> Desk Speaker   \u2190 select Oskel Speaker as Zoom's Speaker\n"
            "voice-over (incoming): original voice at -12 dB, ducked to -24 dB while translating\n"
            "group call: no noise reduction on their audio, normalizer follows a change of talker in ~0.1 s\n"
            "echo cancellation: on (the audio server's echo canceller on Desk Mic + Desk Speaker)");
  EXPECT_TRUE(call->echoCancellationActive());

  // With the event queue on another thread than start(), both sessions can
  // report ready while the pipelines are still starting: live at once.
  call->handle(CallDirection::outgoing, PipelineEvents::Ready{});
  call->handle(CallDirection::incoming, PipelineEvents::Ready{});
  ASSERT_TRUE(call->start());
  EXPECT_EQ(states(), (std::vector<TranslatorState>{Starting{}, Connecting{}, Live{}}));
}

TEST_F(Orchestrators, InPersonTheTurnPicksThePipelineAndASignOutEndsTheConversationOnce) {
  config.speaker = *AudioDevices::info(*host, host->add(device("Buds", "buds", false, true, fourCC("blue"))));
  auto conversation = make<Conversation>();
  EXPECT_TRUE(log.contains("in person: echo cancellation off, Buds is a Bluetooth speaker"));
  EXPECT_FALSE(conversation->echoCancellationActive());
  EXPECT_EQ(conversation->outgoing().config().label, "in person en\u2192es");
  EXPECT_FALSE(conversation->incoming().config().silenceGate);
  EXPECT_EQ(conversation->turn(), CallDirection::outgoing);
  conversation->setTurn(CallDirection::incoming);
  EXPECT_EQ(conversation->turn(), CallDirection::incoming);

  ASSERT_TRUE(conversation->start());
  allLive();
  EXPECT_EQ(conversation->state(), TranslatorState{Live{}});
  conversation->handle(CallDirection::outgoing, PipelineEvents::SignedOut{});
  conversation->handle(CallDirection::incoming, PipelineEvents::SignedOut{});  // already stopping
  clock->advanceSeconds(4.0);
  clock->settle();
  EXPECT_EQ(conversation->state(), TranslatorState{Idle{}});
  EXPECT_EQ(std::ranges::count(received(), TranslatorEvent(TranslatorEvents::SignedOut{})), 1);
}

TEST_F(Orchestrators, ThePlaygroundIsOneDirectionAndAttributesTranscriptsToTheUser) {
  auto playground = make<Playground>();
  EXPECT_EQ(playground->pipeline().config().label, "playground en\u2192es");
  ASSERT_TRUE(playground->start());
  allLive();
  EXPECT_EQ(playground->state(), TranslatorState{Live{}});
  playground->handle(CallDirection::outgoing, PipelineEvents::Disconnected{"drop"});
  EXPECT_EQ(playground->state(), TranslatorState{Reconnecting{}});
  client->last()->receive(R"({"type":"session.output_transcript.delta","delta":"hola"})");
  clock->settle();
  // The transcript comes from the session's thread, the state change from
  // this one: either may reach the event queue first.
  const TranslatorEvent said(TranslatorEvents::Transcript{{CallDirection::outgoing, TranscriptKind::said, "hola"}});
  EXPECT_EQ(std::ranges::count(received(), said), 1);
  std::atomic<bool> stopped = false;
  playground->stop(false, [&] { stopped = true; });
  clock->advanceSeconds(3.9);
  clock->settle();
  EXPECT_FALSE(stopped);  // the slow bound gives the session 4 s
  clock->advanceSeconds(0.1);
  clock->settle();
  EXPECT_TRUE(stopped);
}

}  // namespace
}  // namespace oskel::test
