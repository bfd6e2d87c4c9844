#include <cstdlib>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>

#include "support/ScopedEnv.h"

#include "DevicesCommand.h"
#include "SimDevices.h"
#include "audio/AudioTransport.h"
#include "audio/pulse/PulseAudioHost.h"

using namespace oskel;
using test::ScopedEnv;
using test::simDevice;

namespace {

struct Run {
  int status;
  std::string out;
  std::string err;
};

Run run(SimulatedAudioHost& host, DevicesCommandOptions options) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = runDevicesCommand(options, host, host, out, err);
  return {status, out.str(), err.str()};
}

std::string connectionError() {
  const auto host = PulseAudioHost::connect();
  return host ? "connected" : host.error().description();
}

}  // namespace

TEST(DevicesCommand, ListsTheCatalogueWithDefaultsAndKinds) {
  auto host = SimulatedAudioHost::make();
  const auto id = host->add(simDevice("AirPods", "bluez_output.AA_BB", 1, 2, 16000, AudioTransport::bluetooth));
  auto unknown = simDevice("Odd", "odd", 0, 2);
  unknown.nominalSampleRate.reset();
  host->add(unknown);
  host->setDefault(AudioScope::input, id);
  const auto result = run(*host, {});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "UID                 Name      In  Out    Rate  Transport  Notes\n"
            "bluez_output.AA_BB  AirPods    1    2   16000  blue       default input, bluetooth\n"
            "odd                 Odd        0    2       -  -\n");
}

TEST(DevicesCommand, InstallsAndRemovesTheLoopbackDevicesIdempotentlyButNotBothAtOnce) {
  auto host = SimulatedAudioHost::make();
  const auto both = run(*host, {.installLoopback = true, .removeLoopback = true});
  EXPECT_EQ(both.status, 2);
  EXPECT_EQ(both.err, "choose one of --install-loopback and --remove-loopback\n");
  EXPECT_EQ(host->devices().size(), 0u);

  auto first = run(*host, {.installLoopback = true});
  EXPECT_EQ(first.status, 0);
  EXPECT_TRUE(first.out.starts_with("Installed Oskel Microphone and Oskel Speaker.\n")) << first.out;
  EXPECT_NE(first.out.find("OskelMicrophone_UID  Oskel Microphone    2    2   48000  virt       oskel, virtual"),
            std::string::npos)
      << first.out;
  EXPECT_TRUE(run(*host, {.installLoopback = true}).out.starts_with("The loopback devices are already installed.\n"));
  EXPECT_TRUE(run(*host, {.removeLoopback = true}).out.starts_with("Removed Oskel Microphone and Oskel Speaker.\n"));
  const auto again = run(*host, {.removeLoopback = true});
  EXPECT_EQ(again.out, "No loopback devices to remove.\nNo audio devices.\n");
}

// No server is needed to see how a missing one is reported.
TEST(PulseAudioHost, AServerThatIsNotRunningIsReportedWithWhatWasTried) {
  PulseAudioHost::Options options;
  options.server = "unix:/nonexistent/oskel-test/native";
  const auto host = PulseAudioHost::connect(options);
  ASSERT_FALSE(host);
  EXPECT_EQ(host.error().description(),
            "cannot connect to the audio server (PulseAudio or PipeWire) at unix:/nonexistent/oskel-test/native: "
            "Connection refused");
  {
    ScopedEnv server("PULSE_SERVER", "unix:/nonexistent/oskel-test/other");
    EXPECT_EQ(connectionError(),
              "cannot connect to the audio server (PulseAudio or PipeWire) at unix:/nonexistent/oskel-test/other "
              "(from PULSE_SERVER): Connection refused");
  }
  {
    ScopedEnv server("PULSE_SERVER", nullptr);
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/nonexistent/oskel-runtime");
    EXPECT_NE(connectionError().find("at unix:/nonexistent/oskel-runtime/pulse/native, then "
                                     "unix:/var/run/pulse/native: "),
              std::string::npos)
        << connectionError();
  }
}
