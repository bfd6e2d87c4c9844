#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <vector>

#include "audio/AudioHostError.h"
#include "audio/pulse/PulseSnapshot.h"

// The audio server's echo canceller (module-echo-cancel, WebRTC): its
// arguments on either server, and the names that tie a canceller to the
// Oskel process that loaded it.
namespace oskel::Pulse::EchoCancel {

enum class Server { pulseAudio, pipeWire };

struct Names {
  std::string source;  // records the microphone with the echo removed
  std::string sink;    // plays to the speaker; the reference
};

// "oskel_echo_<pid>_<sequence>_source" and "…_sink": unique per process and
// load, and telling which process a canceller belongs to.
Names namesFor(int pid, uint32_t sequence);

// Module arguments, or why the masters' names cannot be passed safely.
// PulseAudio 16 takes the method and its gain-control keys and needs drift
// adjustment off (it keeps moving the reference); pipewire-pulse reads only
// webrtc.* keys inside aec_args, whose value must hold no double quote.
std::expected<std::string, AudioHostError> arguments(Server server, const std::string& sourceMaster,
                                                     const std::string& sinkMaster, const Names& names);

// Cancellers loaded under our naming by a process other than `self` that no
// longer runs, by module index.
std::vector<uint32_t> staleModules(const Snapshot& snapshot, int self, const std::function<bool(int pid)>& alive);

}  // namespace oskel::Pulse::EchoCancel
