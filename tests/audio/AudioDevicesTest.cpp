#include <gtest/gtest.h>

#include "SimDevices.h"
#include "audio/AudioDevices.h"
#include "audio/AudioTransport.h"

using namespace oskel;
using test::simDevice;

namespace {

class Catalogue : public ::testing::Test {
 protected:
  std::shared_ptr<SimulatedAudioHost> host = SimulatedAudioHost::make();
};

std::string describe(const std::expected<AudioDeviceInfo, AudioDeviceError>& result) {
  return result ? "device " + result->uid : result.error().description();
}

}  // namespace

TEST_F(Catalogue, ListsDevicesWithTheirFactsSkipsNamelessOnesAndFollowsTheDefaults) {
  auto built = simDevice("MacBook Speakers", "BuiltIn_UID", 0, 2, 44100, AudioTransport::builtIn);
  built.manufacturer = "Apple";
  const auto speakers = host->add(built);
  auto nameless = simDevice("", "Hidden_UID", 2, 0);
  nameless.name.reset();
  const auto hidden = host->add(nameless);
  auto bare = simDevice("Bare", "", 1, 0);
  bare.uid.reset();
  bare.nominalSampleRate.reset();
  host->add(bare);

  const auto devices = AudioDevices::all(*host);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0], (AudioDeviceInfo{speakers, "BuiltIn_UID", "MacBook Speakers", "Apple", 0, 2, 44100.0,
                                         AudioTransport::builtIn}));
  // Unreadable facts take their defaults.
  EXPECT_EQ(devices[1].uid, "");
  EXPECT_EQ(devices[1].manufacturer, "");
  EXPECT_EQ(devices[1].nominalSampleRate, 0.0);
  EXPECT_EQ(devices[1].transportType, 0u);

  EXPECT_FALSE(AudioDevices::info(*host, hidden));
  EXPECT_FALSE(AudioDevices::info(*host, 999));

  // Defaults follow the host.
  const auto mic = host->add(simDevice("Mic", "Mic_UID", 1, 0));
  const auto speaker = host->add(simDevice("Speaker", "Speaker_UID", 0, 2));
  EXPECT_FALSE(AudioDevices::defaultInput(*host));
  host->setDefault(AudioScope::input, mic);
  host->setDefault(AudioScope::output, speaker);
  EXPECT_EQ(AudioDevices::defaultInput(*host)->uid, "Mic_UID");
  EXPECT_EQ(AudioDevices::defaultOutput(*host)->uid, "Speaker_UID");
  host->remove(speaker);
  EXPECT_FALSE(AudioDevices::defaultOutput(*host));
}

TEST_F(Catalogue, DerivedFlags) {
  AudioDeviceInfo device;
  device.transportType = AudioTransport::bluetoothLE;
  EXPECT_TRUE(device.isBluetooth());
  EXPECT_FALSE(device.isVirtual());
  device.transportType = AudioTransport::bluetooth;
  EXPECT_TRUE(device.isBluetooth());
  for (auto transport : {AudioTransport::aggregate, AudioTransport::virtualDevice}) {
    device.transportType = transport;
    EXPECT_TRUE(device.isVirtual());
    EXPECT_FALSE(device.isBluetooth());
  }
  device.transportType = AudioTransport::usb;
  device.uid = "BlackHole2ch_UID";
  EXPECT_TRUE(device.isVirtual());
  EXPECT_FALSE(device.isOskel());
  device.uid = "OskelSpeaker_UID";
  EXPECT_TRUE(device.isVirtual());
  EXPECT_TRUE(device.isOskel());
  device.uid = "oskelSpeaker_UID";  // prefixes are case-sensitive
  EXPECT_FALSE(device.isVirtual());
  EXPECT_FALSE(device.isOskel());
}

TEST_F(Catalogue, FindPrefersAnExactUIDOverNames) {
  host->add(simDevice("Recorder of OskelMicrophone_UID", "Other_UID", 2, 0));
  const auto mic = host->add(simDevice("Oskel Microphone", "OskelMicrophone_UID", 2, 2));
  const auto found = AudioDevices::find(*host, AudioDevices::oskelMicrophoneUID, AudioDevices::Direction::input);
  ASSERT_TRUE(found) << describe(found);
  EXPECT_EQ(found->id, mic);
  // UIDs match case-sensitively: the lower-cased UID falls back to names.
  EXPECT_EQ(describe(AudioDevices::find(*host, "oskelmicrophone_uid", AudioDevices::Direction::input)),
            "device Other_UID");
}

TEST_F(Catalogue, FindMatchesWholeNamesBeforeSubstringsIgnoringCaseAndNeverGuesses) {
  host->add(simDevice("USB Mic Pro", "Pro_UID", 1, 0));
  host->add(simDevice("USB Mic", "Plain_UID", 1, 0));
  host->add(simDevice("Écouteurs Bluetooth", "Ecouteurs_UID", 1, 2));
  EXPECT_EQ(describe(AudioDevices::find(*host, "usb mic", AudioDevices::Direction::input)), "device Plain_UID");
  EXPECT_EQ(describe(AudioDevices::find(*host, "mic pro", AudioDevices::Direction::input)), "device Pro_UID");
  // Lower-casing is not limited to ASCII.
  EXPECT_EQ(describe(AudioDevices::find(*host, "ÉCOUTEURS", AudioDevices::Direction::output)),
            "device Ecouteurs_UID");
  EXPECT_EQ(describe(AudioDevices::find(*host, "USB", AudioDevices::Direction::input)),
            "\"USB\" matches several devices \u2014 pass the UID instead:\n"
            "  USB Mic Pro [in 1/out 0, uid Pro_UID]\n"
            "  USB Mic [in 1/out 0, uid Plain_UID]");

  // Identical names are ambiguous.
  host->add(simDevice("Scarlett 2i2", "Scarlett_A", 2, 2));
  host->add(simDevice("scarlett 2i2", "Scarlett_B", 2, 2));
  const auto found = AudioDevices::find(*host, "Scarlett 2i2", AudioDevices::Direction::any);
  ASSERT_FALSE(found);
  EXPECT_EQ(found.error(), AudioDeviceError::ambiguous("Scarlett 2i2", {"Scarlett 2i2 [in 2/out 2, uid Scarlett_A]",
                                                                         "scarlett 2i2 [in 2/out 2, uid Scarlett_B]"}));
}

TEST_F(Catalogue, FindNamesOnlyTheCandidatesOfItsDirection) {
  host->add(simDevice("Speakers", "Speakers_UID", 0, 2));
  host->add(simDevice("Headset", "H", 1, 2));
  host->add(simDevice("Mic", "M", 1, 0));
  EXPECT_EQ(describe(AudioDevices::find(*host, "nothing", AudioDevices::Direction::input)),
            "no audio device matches \"nothing\". Available: Headset, Mic");
  // The direction filters UID matches too.
  EXPECT_EQ(describe(AudioDevices::find(*host, "Speakers_UID", AudioDevices::Direction::input)),
            "no audio device matches \"Speakers_UID\". Available: Headset, Mic");
  EXPECT_EQ(describe(AudioDevices::find(*host, "Speakers_UID", AudioDevices::Direction::output)),
            "device Speakers_UID");

  auto empty = SimulatedAudioHost::make();
  EXPECT_EQ(describe(AudioDevices::find(*empty, "Mic", AudioDevices::Direction::any)),
            "no audio device matches \"Mic\". Available: ");
}
