#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "OrchestratorRun.h"
#include "audio/AudioHost.h"

namespace oskel {

// The original voice under the translation, as the application sets it up:
// -6 dB, lowered to -18 dB while translated speech plays.
struct VoiceOverChoices {
  bool enabled = true;                     // --no-voice-over turns it off
  double idleDB = -6.0;                    // --voice-over DB
  std::optional<std::string> duck;         // --duck DB, or "off" for a constant level
};

struct CallOptions {
  InterpreterChoices interpreter;
  VoiceOverChoices voiceOver;
  bool echoCancellation = true;  // --no-echo-cancellation
  bool group = false;            // --group
  bool room = false;             // --room
  std::optional<std::string> record;  // --record [FILE]; "" for the recordings folder
};

// `oskel call`: an interpreted call between the user's devices and the
// loopback devices a call program uses, until Ctrl-C.
int runCallCommand(const CallOptions& options, std::ostream& out, std::ostream& err);
int runCallCommand(const CallOptions& options, std::shared_ptr<AudioHost> host, std::ostream& out, std::ostream& err);

}  // namespace oskel
