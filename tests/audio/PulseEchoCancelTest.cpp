#include <gtest/gtest.h>

#include "audio/pulse/PulseEchoCancel.h"

using namespace oskel;
namespace EchoCancel = Pulse::EchoCancel;

TEST(PulseEchoCancel, ArgumentsSuitEachServerAndRefuseUnsafeNames) {
  const auto names = EchoCancel::namesFor(4242, 3);
  EXPECT_EQ(names.source, "oskel_echo_4242_3_source");
  EXPECT_EQ(names.sink, "oskel_echo_4242_3_sink");
  EXPECT_EQ(*EchoCancel::arguments(EchoCancel::Server::pulseAudio, "alsa_input.usb-1", "alsa_output.pci-2", names),
            "source_master=alsa_input.usb-1 sink_master=alsa_output.pci-2 source_name=oskel_echo_4242_3_source "
            "sink_name=oskel_echo_4242_3_sink aec_method=webrtc "
            "aec_args=\"analog_gain_control=0 digital_gain_control=1\" adjust_time=0");
  EXPECT_EQ(*EchoCancel::arguments(EchoCancel::Server::pipeWire, "mic", "spk", names),
            "source_master=mic sink_master=spk source_name=oskel_echo_4242_3_source sink_name=oskel_echo_4242_3_sink "
            "aec_args=\"webrtc.gain_control=false\"");
  const auto unsafe = EchoCancel::arguments(EchoCancel::Server::pipeWire, "mic aec_args=\"x\"", "spk", names);
  ASSERT_FALSE(unsafe);
  EXPECT_EQ(unsafe.error().description(), "device name \"mic aec_args=\"x\"\" cannot be given to the echo canceller");
}

TEST(PulseEchoCancel, StaleCancellersAreThoseOfOskelProcessesThatAreGone) {
  Pulse::Snapshot snapshot;
  const auto add = [&](uint32_t index, std::string name, std::string args) {
    snapshot.modules[index] = std::move(name);
    snapshot.moduleArguments[index] = std::move(args);
  };
  add(1, "module-echo-cancel", "source_master=a sink_master=b source_name=oskel_echo_100_0_source");  // dead
  add(2, "module-echo-cancel", "source_master=a sink_master=b source_name=oskel_echo_200_0_source");  // alive
  add(3, "module-echo-cancel", "source_master=a sink_master=b source_name=oskel_echo_300_1_source");  // ourselves
  add(4, "module-echo-cancel", "source_name=echo_cancel_source");                                   // not ours
  add(5, "module-null-sink", "sink_name=x source_name=oskel_echo_100_0_source");                    // not a canceller
  add(6, "libpipewire-module-echo-cancel", "source_name=oskel_echo_101_7_source");                  // dead
  add(7, "module-echo-cancel", "source_name=oskel_echo_x_source");                                  // malformed
  const auto stale = EchoCancel::staleModules(snapshot, 300, [](int pid) { return pid == 200; });
  EXPECT_EQ(stale, (std::vector<uint32_t>{1, 6}));
}
