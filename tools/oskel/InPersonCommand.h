#pragma once

#include <iosfwd>
#include <memory>

#include "OrchestratorRun.h"
#include "audio/AudioHost.h"

namespace oskel {

// `oskel in-person`: two people share the computer; Space or Enter passes
// the turn. `oskel playground`: the first-run try-out, the user's own speech
// translated to the speaker.
int runInPersonCommand(const InterpreterChoices& options, std::ostream& out, std::ostream& err);
int runInPersonCommand(const InterpreterChoices& options, std::shared_ptr<AudioHost> host, std::ostream& out,
                       std::ostream& err);
int runPlaygroundCommand(const InterpreterChoices& options, std::ostream& out, std::ostream& err);
int runPlaygroundCommand(const InterpreterChoices& options, std::shared_ptr<AudioHost> host, std::ostream& out,
                         std::ostream& err);

}  // namespace oskel
