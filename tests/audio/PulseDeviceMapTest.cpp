#include <gtest/gtest.h>

#include "audio/AudioTransport.h"
#include "audio/FourCC.h"
#include "audio/pulse/PulseDeviceMap.h"
#include "audio/pulse/PulseLoopbackModules.h"

using namespace oskel;
using namespace oskel::Pulse;

namespace {

uint32_t nextIndex = 0;

using Properties = std::map<std::string, std::string>;

Node sink(std::string name, std::string description, Properties properties = {}, uint32_t channels = 2,
          uint32_t rate = 48000) {
  Node node;
  node.index = nextIndex++;
  node.name = std::move(name);
  node.description = std::move(description);
  node.properties = std::move(properties);
  node.monitorSource = node.name + ".monitor";
  node.channels = channels;
  node.channelMap = channels == 2 ? "front-left,front-right" : "mono";
  node.rate = rate;
  return node;
}

Node source(std::string name, std::string description, Properties properties = {}, uint32_t channels = 2,
            uint32_t rate = 48000) {
  Node node = sink(std::move(name), std::move(description), std::move(properties), channels, rate);
  node.monitorSource.clear();
  return node;
}

Node monitorOf(const Node& of) {
  Node node =
      source(of.monitorSource, "Monitor of " + of.description, {{"device.class", "monitor"}}, of.channels, of.rate);
  node.monitorOfSink = of.index;
  return node;
}

std::vector<std::string> uids(const std::vector<Device>& devices) {
  std::vector<std::string> result;
  for (const auto& device : devices) result.push_back(device.uid);
  return result;
}

}  // namespace

TEST(PulseDeviceMap, ALoopbackDeviceIsItsNullSinkPlusTheSourceRemappedOverItsMonitor) {
  Snapshot snapshot;
  snapshot.modules = {{7, "module-null-sink"}, {8, "module-remap-source"}};
  Node out =
      sink("OskelMicrophone_UID", "Oskel Microphone", {{"device.class", "abstract"}, {"device.vendor.name", "Oskel"}});
  out.ownerModule = 7;
  Node in = source("OskelMicrophone_UID.source", "Oskel Microphone",
                   {{"device.class", "filter"}, {"device.master_device", "OskelMicrophone_UID.monitor"}}, 2, 44100);
  in.ownerModule = 8;
  snapshot.sinks = {out};
  snapshot.sources = {monitorOf(out), in};

  const auto devices = mapDevices(snapshot);
  ASSERT_EQ(devices.size(), 1u);
  const auto& device = devices[0];
  EXPECT_EQ(device.uid, "OskelMicrophone_UID");
  EXPECT_EQ(device.name, "Oskel Microphone");
  EXPECT_EQ(device.manufacturer, "Oskel");
  EXPECT_EQ(device.transportType, AudioTransport::virtualDevice);
  EXPECT_EQ(device.nominalSampleRate, 48000.0);
  ASSERT_TRUE(device.input && device.output);
  EXPECT_EQ(device.output->node, "OskelMicrophone_UID");
  EXPECT_EQ(device.input->node, "OskelMicrophone_UID.source");
  EXPECT_EQ(device.input->format, AudioStreamFormat::float32(44100, 2));
  EXPECT_EQ(device.output->channelMap, "front-left,front-right");
}

TEST(PulseDeviceMap, PipeWireNullSinksPairTooAndMonitorsAreNeverDevices) {
  Snapshot snapshot;
  Node out =
      sink("test_duplex", "Test Duplex", {{"factory.name", "support.null-audio-sink"}, {"media.class", "Audio/Sink"}});
  Node in = source("test_duplex.source", "Test Duplex",
                   {{"device.master_device", "test_duplex.monitor"}, {"node.virtual", "true"}});
  // A remap over a hardware sink's monitor is a device of its own, not half of the sink.
  Node speakers = sink("alsa_output.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo",
                       {{"device.bus", "pci"}, {"device.api", "alsa"}});
  speakers.hardware = true;
  Node echo = source("speaker_echo", "Speaker Echo",
                     {{"device.master_device", speakers.monitorSource}, {"device.class", "filter"}});
  snapshot.sinks = {out, speakers};
  snapshot.sources = {monitorOf(out), in, monitorOf(speakers), echo};

  const auto devices = mapDevices(snapshot);
  EXPECT_EQ(uids(devices),
            (std::vector<std::string>{"test_duplex", "alsa_output.pci-0000_00_1f.3.analog-stereo", "speaker_echo"}));
  EXPECT_TRUE(devices[0].input);
  EXPECT_FALSE(devices[1].input);
  EXPECT_EQ(devices[1].transportType, AudioTransport::builtIn);
  EXPECT_FALSE(devices[2].output);
  EXPECT_EQ(devices[2].transportType, AudioTransport::virtualDevice);
}

TEST(PulseDeviceMap, ACardsOnlySinkAndSourceFormOneDevice) {
  Snapshot snapshot;
  const Properties jabra{{"device.bus", "usb"}, {"device.vendor.name", "GN Netcom A/S"}};
  Node headsetOut = sink("alsa_output.usb-Jabra_Evolve-00.analog-stereo", "Jabra Evolve Analog Stereo", jabra);
  Node headsetIn = source("alsa_input.usb-Jabra_Evolve-00.mono-fallback", "Jabra Evolve Mono", jabra, 1, 16000);
  headsetOut.card = headsetIn.card = 3;
  // A card with two sinks (analog and HDMI) keeps them apart.
  Node analog = sink("alsa_output.pci.analog-stereo", "Built-in Audio Analog Stereo", {{"device.bus", "pci"}});
  Node hdmi = sink("alsa_output.pci.hdmi-stereo", "Built-in Audio Digital Stereo (HDMI)",
                   {{"device.bus", "pci"}, {"device.profile.name", "hdmi-stereo"}});
  Node builtInMic = source("alsa_input.pci.analog-stereo", "Built-in Audio Analog Stereo", {{"device.bus", "pci"}});
  analog.card = hdmi.card = builtInMic.card = 0;
  snapshot.sinks = {headsetOut, analog, hdmi};
  snapshot.sources = {monitorOf(headsetOut), headsetIn, monitorOf(analog), monitorOf(hdmi), builtInMic};

  const auto devices = mapDevices(snapshot);
  ASSERT_EQ(devices.size(), 4u);
  EXPECT_EQ(devices[0].uid, "alsa_output.usb-Jabra_Evolve-00.analog-stereo");
  EXPECT_EQ(devices[0].transportType, AudioTransport::usb);
  EXPECT_EQ(devices[0].manufacturer, "GN Netcom A/S");
  ASSERT_TRUE(devices[0].input);
  EXPECT_EQ(devices[0].input->channels, 1u);
  EXPECT_EQ(devices[0].input->rate, 16000u);
  EXPECT_FALSE(devices[1].input);
  EXPECT_EQ(devices[2].transportType, AudioTransport::hdmi);
  EXPECT_EQ(devices[3].uid, "alsa_input.pci.analog-stereo");
  EXPECT_FALSE(devices[3].output);
}

TEST(PulseDeviceMap, TransportsFollowBusApiAndModule) {
  const std::map<uint32_t, std::string> modules{
      {1, "module-combine-sink"}, {3, "module-null-sink"}};
  const auto transport = [&](Properties properties, uint32_t module = invalidIndex, bool hardware = true) {
    Node node = sink("n", "N", std::move(properties));
    node.ownerModule = module;
    node.hardware = hardware;
    return fourCCText(transportOf(node, modules));
  };
  EXPECT_EQ(transport({{"device.bus", "bluetooth"}}), "blue");
  EXPECT_EQ(transport({{"device.api", "bluez5"}, {"api.bluez5.profile", "a2dp-sink"}}), "blue");
  EXPECT_EQ(transport({{"device.api", "bluez5"}, {"api.bluez5.profile", "bap-sink"}}), "blea");
  EXPECT_EQ(transport({}, 1, false), "grup");
  EXPECT_EQ(transport({}, 3, false), "virt");
  EXPECT_EQ(transport({{"device.bus", "usb"}}), "usb ");
  EXPECT_EQ(transport({{"device.bus", "firewire"}}), "1394");
  EXPECT_EQ(transport({{"device.bus", "pci"}}), "bltn");
  EXPECT_EQ(transport({{"device.form_factor", "internal"}}), "bltn");
  EXPECT_EQ(transport({{"device.api", "raop"}}), "airp");
  EXPECT_EQ(transport({{"node.virtual", "true"}}), "virt");
  EXPECT_EQ(transport({}, invalidIndex, false), "virt");
  EXPECT_EQ(transport({}), fourCCText(AudioTransport::unknown));
}

TEST(PulseDeviceMap, CompressedOnlyNodesReportAFormatTheEndpointsRefuse) {
  Snapshot snapshot;
  Node passthrough = sink("iec958", "Digital Passthrough (IEC958)");
  passthrough.acceptsPCM = false;
  passthrough.firstEncoding = 2;  // AC3 in IEC 61937
  Node nameless = source("nameless", "");
  snapshot.sinks = {passthrough};
  snapshot.sources = {nameless};
  const auto devices = mapDevices(snapshot);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].output->format.formatID, fourCC("ac-3"));
  EXPECT_EQ(devices[0].output->format.bitsPerChannel, 0u);
  EXPECT_FALSE(devices[1].name);
}

TEST(PulseLoopbackModules, ArgumentsNameTheDeviceAndPairTheHalvesAndNeedNoQuoting) {
  const LoopbackDeviceSpec spec{"OskelSpeaker_UID", "Oskel Speaker"};
  EXPECT_EQ(*LoopbackModules::nullSinkArguments(spec),
            "sink_name=OskelSpeaker_UID sink_properties='device.description=\"Oskel Speaker\" "
            "device.vendor.name=Oskel priority.session=-100' "
            "format=float32le rate=48000 channels=2 channel_map=front-left,front-right");
  EXPECT_EQ(*LoopbackModules::remapSourceArguments(spec),
            "master=OskelSpeaker_UID.monitor source_name=OskelSpeaker_UID.source "
            "source_properties='device.description=\"Oskel Speaker\" device.vendor.name=Oskel "
            "priority.session=-100 device.master_device=OskelSpeaker_UID.monitor' "
            "format=float32le rate=48000 channels=2 channel_map=front-left,front-right");

  // What would need quoting is refused.
  EXPECT_FALSE(LoopbackModules::nullSinkArguments({"Bad UID", "Name"}));
  EXPECT_FALSE(LoopbackModules::nullSinkArguments({"", "Name"}));
  const auto quoted = LoopbackModules::remapSourceArguments({"Good_UID", "Say \"hi\""});
  ASSERT_FALSE(quoted);
  EXPECT_EQ(quoted.error().description(), "loopback device name \"Say \"hi\"\" must not contain quotes or backslashes");
  EXPECT_FALSE(LoopbackModules::remapSourceArguments({"Good_UID", "it's"}));
  EXPECT_FALSE(LoopbackModules::remapSourceArguments({"Good_UID", "back\\slash"}));
}
