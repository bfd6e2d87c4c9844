#include "Orchestrator.h"

#include "orchestration/Conversation.h"
#include "orchestration/Playground.h"
#include "orchestration/Translator.h"

namespace oskel {

namespace {

// The parts every engine orchestrator has in common.
template <typename Engine>
class EngineOrchestrator : public Orchestrator {
 public:
  explicit EngineOrchestrator(std::shared_ptr<Engine> engine) : engine_(std::move(engine)) {}
  ~EngineOrchestrator() override { engine_->setOnEvent({}); }

  void setOnEvent(EventHandler handler) override { engine_->setOnEvent(std::move(handler)); }
  std::expected<void, OrchestratorError> start() override { return engine_->start(); }
  void stop(bool fast, std::function<void()> completion) override { engine_->stop(fast, std::move(completion)); }
  bool echoCancellationActive() const override { return engine_->echoCancellationActive(); }
  double speechSeconds() const override { return engine_->speechSeconds(); }
  double translatedSeconds() const override { return engine_->translatedSeconds(); }
  const TranslatorConfig& config() const override { return engine_->config(); }
  const AudioDeviceInfo& microphone() const override { return engine_->microphone(); }
  const AudioDeviceInfo& speaker() const override { return engine_->speaker(); }
  std::optional<float> inputLevelDB(CallDirection direction) const override {
    return engine_->inputLevelDB(direction);
  }

 protected:
  std::shared_ptr<Engine> engine_;
};

class CallOrchestrator final : public EngineOrchestrator<Translator> {
 public:
  using EngineOrchestrator::EngineOrchestrator;
  void setVoiceOverLevels(double idleDB, std::optional<double> duckDB) override {
    engine_->setVoiceOverLevels(idleDB, duckDB);
  }
  std::expected<void, std::string> startRecording(const std::filesystem::path& url) override {
    return engine_->startRecording(url);
  }
  std::optional<CallRecorder::Result> stopRecording() override { return engine_->stopRecording(); }
  double theirSpeechSeconds() const override { return engine_->theirSpeechSeconds(); }
};

class ConversationOrchestrator final : public EngineOrchestrator<Conversation> {
 public:
  using EngineOrchestrator::EngineOrchestrator;
  void setTurn(CallDirection turn) override { engine_->setTurn(turn); }
  double theirSpeechSeconds() const override { return engine_->theirSpeechSeconds(); }
};

template <typename Adapter, typename Engine>
std::expected<std::shared_ptr<Orchestrator>, OrchestratorError> adapt(
    std::expected<std::shared_ptr<Engine>, OrchestratorError> made) {
  if (!made) return std::unexpected(made.error());
  return std::make_shared<Adapter>(std::move(*made));
}

}  // namespace

OrchestratorFactory engineOrchestrators(OrchestratorEnvironment base) {
  return [base](OrchestratorKind kind, TranslatorConfig config, CallDirection turn,
                OrchestratorEnvironment::Post eventQueue)
             -> std::expected<std::shared_ptr<Orchestrator>, OrchestratorError> {
    auto environment = base;
    environment.eventQueue = std::move(eventQueue);
    switch (kind) {
      case OrchestratorKind::translator:
        return adapt<CallOrchestrator>(Translator::make(std::move(config), std::move(environment)));
      case OrchestratorKind::conversation: {
        auto made = Conversation::make(std::move(config), std::move(environment));
        if (made) (*made)->setTurn(turn);
        return adapt<ConversationOrchestrator>(std::move(made));
      }
      case OrchestratorKind::playground:
        return adapt<EngineOrchestrator<Playground>>(Playground::make(std::move(config), std::move(environment)));
    }
    return std::unexpected(OrchestratorError::of(std::string("unknown orchestrator")));
  };
}

}  // namespace oskel
