#include "InPersonCommand.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <ostream>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "StopSignal.h"
#include "orchestration/Conversation.h"
#include "orchestration/Playground.h"

namespace oskel {
namespace {

// Single keys without Enter while the session runs; the terminal's own mode
// comes back on every way out (the destructor runs on returns and on
// exceptions, and Ctrl-C only raises a flag).
class RawTerminal {
 public:
  RawTerminal() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~RawTerminal() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

  // Keys typed since the last call.
  std::string keys() const {
    std::string typed;
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    char buffer[64];
    while (poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN)) {
      const auto n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) break;
      typed.append(buffer, static_cast<size_t>(n));
    }
    return typed;
  }

 private:
  termios saved_{};
  bool active_ = false;
};

std::string turnLine(const TranslatorConfig& config, CallDirection turn) {
  const bool mine = turn == CallDirection::outgoing;
  return fmt::format("\r-- turn: {} speaks {} (Space or Enter passes the turn)\n", mine ? "you" : "they",
                     mine ? config.myLanguage : config.theirLanguage);
}

}  // namespace

int runInPersonCommand(const InterpreterChoices& options, std::ostream& out, std::ostream& err) {
  return onAudioServer("in-person", err,
                       [&](std::shared_ptr<AudioHost> host) { return runInPersonCommand(options, std::move(host), out, err); });
}

int runInPersonCommand(const InterpreterChoices& options, std::shared_ptr<AudioHost> host, std::ostream& out,
                       std::ostream& err) {
  StopSignal::install();
  auto run = OrchestratorRun::open("in-person", options, std::move(host), out, err);
  if (!run) return run.error();
  TranslatorConfig config((*run)->credential(), options.me, options.them);
  config.microphone = (*run)->microphone();
  config.speaker = (*run)->speaker();
  config.noiseReduction = std::nullopt;
  auto made = Conversation::make(config, (*run)->environment());
  if (!made) return (*run)->fail(made.error().description());
  auto conversation = *made;
  conversation->setOnEvent([raw = run->get()](const TranslatorEvent& event) { raw->handle(event); });
  if (auto started = conversation->start(); !started) {
    conversation->stop(true, {});
    return (*run)->fail(started.error().description());
  }
  fmt::print(out, "{}", turnLine(config, conversation->turn()));
  out.flush();
  {
    RawTerminal terminal;
    (*run)->wait([&] {
      for (char key : terminal.keys()) {
        if (key != ' ' && key != '\n' && key != '\r') continue;
        const auto next =
            conversation->turn() == CallDirection::outgoing ? CallDirection::incoming : CallDirection::outgoing;
        conversation->setTurn(next);
        fmt::print(out, "{}", turnLine(config, next));
        out.flush();
      }
    });
  }
  const int status = (*run)->finish([&](bool fast, std::function<void()> done) { conversation->stop(fast, done); });
  fmt::print(out, "you spoke {:.1f}s, they spoke {:.1f}s, {:.1f}s translated\n", conversation->speechSeconds(),
             conversation->theirSpeechSeconds(), conversation->translatedSeconds());
  conversation->setOnEvent({});
  return status;
}

int runPlaygroundCommand(const InterpreterChoices& options, std::ostream& out, std::ostream& err) {
  return onAudioServer("playground", err,
                       [&](std::shared_ptr<AudioHost> host) { return runPlaygroundCommand(options, std::move(host), out, err); });
}

int runPlaygroundCommand(const InterpreterChoices& options, std::shared_ptr<AudioHost> host, std::ostream& out,
                         std::ostream& err) {
  StopSignal::install();
  auto run = OrchestratorRun::open("playground", options, std::move(host), out, err);
  if (!run) return run.error();
  TranslatorConfig config((*run)->credential(), options.me, options.them);
  config.microphone = (*run)->microphone();
  config.speaker = (*run)->speaker();
  auto made = Playground::make(config, (*run)->environment());
  if (!made) return (*run)->fail(made.error().description());
  auto playground = *made;
  playground->setOnEvent([raw = run->get()](const TranslatorEvent& event) { raw->handle(event); });
  if (auto started = playground->start(); !started) {
    playground->stop(true, {});
    return (*run)->fail(started.error().description());
  }
  fmt::print(out, "Say something: you will hear it in {} (Ctrl-C stops).\n", options.them);
  out.flush();
  (*run)->wait();
  const int status = (*run)->finish([&](bool fast, std::function<void()> done) { playground->stop(fast, done); });
  fmt::print(out, "you spoke {:.1f}s, {:.1f}s translated\n", playground->speechSeconds(),
             playground->translatedSeconds());
  playground->setOnEvent({});
  return status;
}

}  // namespace oskel
