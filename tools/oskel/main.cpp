// oskel: the engine on the command line, for headless use and development.
#include <iostream>

#include <CLI/CLI.hpp>

#include "DevicesCommand.h"
#include "ListenCommand.h"
#include "TranslateCommand.h"
#include "log/Log.h"

namespace {

void addPipelineOptions(CLI::App& command, oskel::PipelineChoices& choices) {
  command.add_option("--to", choices.language, "Language to translate into (a two-letter code)")->required();
  command.add_option("--from", choices.from, "Language spoken (only names the captions)");
  command.add_option("--voice-over", choices.voiceOverDB, "Keep the original voice under the translation at this level (dB)");
  command.add_option("--duck", choices.duckDB, "Lower the original to this level (dB) while translation plays");
  command.add_flag("--normalize", choices.normalize, "Raise quiet speech towards a steady level before sending it");
  command.add_option("--record", choices.record,
                     "Record a stereo WAV file: left what is played, right what is captured");
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
  addPipelineOptions(*listenCommand, listen.pipeline);

  DevicesCommandOptions devices;
  auto* devicesCommand = app.add_subcommand("devices", "List the audio devices of the audio server");
  devicesCommand->add_flag("--install-loopback", devices.installLoopback,
                           "Create the Oskel Microphone and Oskel Speaker devices first");
  devicesCommand->add_flag("--remove-loopback", devices.removeLoopback,
                           "Remove the two loopback devices first, and the files that bring them back");
  devicesCommand->add_flag("--persist", devices.persist,
                           "With --install-loopback: bring the devices back at every login and server start");

  for (auto* command : {translateCommand, listenCommand, devicesCommand})
    command->add_flag("-v,--verbose", verbose, "Also write debug log lines");

  CLI11_PARSE(app, argc, argv);
  Log::setVerbose(verbose);
  if (translateCommand->parsed()) return runTranslateCommand(translate, std::cout, std::cerr);
  if (listenCommand->parsed()) return runListenCommand(listen, std::cout, std::cerr);
  return runDevicesCommand(devices, std::cout, std::cerr);
}
