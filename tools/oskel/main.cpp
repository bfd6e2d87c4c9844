// oskel: the engine on the command line, for headless use and development.
#include <iostream>

#include <CLI/CLI.hpp>

#include "CallCommand.h"
#include "DevicesCommand.h"
#include "InPersonCommand.h"
#include "ListenCommand.h"
#include "TranslateCommand.h"
#include "log/Log.h"

namespace {

void addPipelineOptions(CLI::App& command, oskel::PipelineChoices& choices) {
  command.add_option("--to", choices.language, "Language to translate into (a two-letter code)")->required();
  command.add_option("--from", choices.from, "Language spoken (only names the captions)");
  command.add_option("--voice-over", choices.voiceOverDB, "Keep the original voice under the translation at this level (dB)");
  command.add_option("--duck", choices.duck,
                     "Lower the original to this level (dB) while translation plays (default -18), or \"off\"");
  command.add_flag("--normalize", choices.normalize, "Raise quiet speech towards a steady level before sending it");
  command.add_option("--record", choices.record,
                     "Record a stereo WAV file: left what is played, right what is captured");
}

void addInterpreterOptions(CLI::App& command, oskel::InterpreterChoices& choices) {
  command.add_option("--me", choices.me, "Your language (a two-letter code)")->required();
  command.add_option("--them", choices.them, "The other side's language (a two-letter code)")->required();
  command.add_option("--mic", choices.mic, "Your microphone (UID or name; default: the default input)");
  command.add_option("--speaker", choices.speaker, "Your speaker (UID or name; default: the default output)");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace oskel;
  CLI::App app{"Oskel, a live speech interpreter, on the command line."};
  app.require_subcommand(1);
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Also write debug log lines")->configurable(false);

  TranslateOptions translate;
  auto* translateCommand =
      app.add_subcommand("translate", "Translate a WAV recording in real time, with live captions");
  translateCommand->add_option("input", translate.input, "WAV file to translate")->required()->check(CLI::ExistingFile);
  translateCommand->add_option("-o,--output", translate.output, "Write what is played to this WAV file");
  addPipelineOptions(*translateCommand, translate.pipeline);

  ListenOptions listen;
  auto* listenCommand =
      app.add_subcommand("listen", "Translate a microphone to a speaker on the audio server, with live captions");
  listenCommand->add_option("--input", listen.inputDevice, "Microphone (UID or name; default: the default input)");
  listenCommand->add_option("--output", listen.outputDevice, "Speaker (UID or name; default: the default output)");
  listenCommand->add_option("--seconds", listen.seconds, "Stop after this many seconds (default: at Ctrl-C)")
      ->check(CLI::PositiveNumber);
  listenCommand->add_flag("--echo-cancellation", listen.echoCancellation,
                          "Remove what the speaker plays from the microphone (the audio server's echo canceller)");
  addPipelineOptions(*listenCommand, listen.pipeline);

  DevicesCommandOptions devices;
  auto* devicesCommand = app.add_subcommand("devices", "List the audio devices of the audio server");
  devicesCommand->add_flag("--install-loopback", devices.installLoopback,
                           "Create the Oskel Microphone and Oskel Speaker devices first");
  devicesCommand->add_flag("--remove-loopback", devices.removeLoopback,
                           "Remove the two loopback devices first, and the files that bring them back");
  devicesCommand->add_flag("--persist", devices.persist,
                           "With --install-loopback: bring the devices back at every login and server start");

  CallOptions call;
  auto* callCommand = app.add_subcommand(
      "call", "Interpret a call both ways through the Oskel Microphone and Oskel Speaker devices, until Ctrl-C");
  addInterpreterOptions(*callCommand, call.interpreter);
  callCommand->add_option("--voice-over", call.voiceOver.idleDB,
                          "Level (dB) of the original voice under the translation (default -6)");
  callCommand->add_option("--duck", call.voiceOver.duck,
                          "Level (dB) of the original voice while translation plays (default -18), or \"off\"");
  callCommand->add_flag("--no-voice-over", [&call](int64_t) { call.voiceOver.enabled = false; },
                        "Do not keep the original voice under the translation");
  callCommand->add_flag("--no-echo-cancellation", [&call](int64_t) { call.echoCancellation = false; },
                        "Do not cancel the speaker's echo in the microphone");
  callCommand->add_flag("--group", call.group, "More than one person is on the call");
  callCommand->add_flag("--room", call.room, "A room or laptop microphone rather than a headset");
  callCommand->add_option("--record", call.record,
                          "Record a stereo WAV file (default: the next file in the Oskel Recordings folder)")
      ->expected(0, 1)
      ->default_str("");

  InterpreterChoices inPerson;
  auto* inPersonCommand =
      app.add_subcommand("in-person", "Two people share this computer and take turns (Space or Enter switches)");
  addInterpreterOptions(*inPersonCommand, inPerson);

  InterpreterChoices playground;
  auto* playgroundCommand =
      app.add_subcommand("playground", "Try it out: your own speech, translated, from your speaker");
  addInterpreterOptions(*playgroundCommand, playground);

  for (auto* command : {translateCommand, listenCommand, devicesCommand, callCommand, inPersonCommand,
                        playgroundCommand})
    command->add_flag("-v,--verbose", verbose, "Also write debug log lines");

  CLI11_PARSE(app, argc, argv);
  Log::setVerbose(verbose);
  if (translateCommand->parsed()) return runTranslateCommand(translate, std::cout, std::cerr);
  if (listenCommand->parsed()) return runListenCommand(listen, std::cout, std::cerr);
  if (callCommand->parsed()) return runCallCommand(call, std::cout, std::cerr);
  if (inPersonCommand->parsed()) return runInPersonCommand(inPerson, std::cout, std::cerr);
  if (playgroundCommand->parsed()) return runPlaygroundCommand(playground, std::cout, std::cerr);
  return runDevicesCommand(devices, std::cout, std::cerr);
}
