// oskel-service-emulator: the local translation service for offline use and
// manual tests. Runs until interrupted.
#include <signal.h>

#include <cstdio>
#include <iostream>
#include <mutex>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "emulator/ServiceEmulator.h"

using namespace oskel::emulator;

namespace {

std::set<std::string> splitList(const std::string& text) {
  std::set<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto comma = text.find(',', start);
    const auto item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!item.empty()) items.insert(item);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Local stand-in for the realtime translation service and the relay (127.0.0.1 only)."};

  ServiceEmulator::Config config;
  std::string keys;
  std::string tokens;
  bool verbose = false;
  app.add_option("--port", config.port, "Port to listen on (0: any free port)");
  app.add_flag("--tls", config.tls, "Serve wss:// and https:// with a generated test CA (its PEM path is printed)");
  app.add_option("--keys", keys, "Comma-separated API keys to accept (default: any)");
  app.add_option("--tokens", tokens, "Comma-separated relay tokens to accept (default: any; others get close 4401)");
  app.add_flag("-v,--verbose", verbose, "Log every connection event");
  app.add_option("--receive-buffer", config.receiveBufferBytes,
                 "Kernel receive buffer of each connection in bytes (default: the system's)");

  ConnectionScript script;
  std::size_t connection = 0;
  double expiresIn = 1800;
  bool noExpiry = false;
  bool noCreated = false;
  long updatedDelay = 0;
  bool neverUpdated = false;
  bool noEcho = false;
  long closedDelay = 0;
  bool neverClosed = false;
  std::optional<std::size_t> silentAfterBlocks, errorAfterBlocks, errorStringAfterBlocks, malformedAfterBlocks,
      nonObjectAfterBlocks, oversizedAfterBlocks, closeAfterBlocks, dropAfterBlocks, stopReadingAfterBlocks;
  std::optional<long> silentAfterMs, closeAfterMs;
  std::string errorMessage = "emulated server error";
  std::uint16_t closeCode = 1000;
  bool closeAtConnect = false;
  std::optional<int> refuseUpgrade;
  std::optional<int> modelsStatus;
  std::string modelsBody;

  auto* behaviour = "Behaviour";
  app.add_option("--connection", connection, "Apply the behaviour options only to the N-th connection (1-based)")
      ->group(behaviour);
  app.add_option("--expires-in", expiresIn, "Seconds until the announced expiry (default 1800)")->group(behaviour);
  app.add_flag("--no-expiry", noExpiry, "Announce no expiry in session.created")->group(behaviour);
  app.add_flag("--no-created", noCreated, "Never send session.created")->group(behaviour);
  app.add_option("--updated-delay-ms", updatedDelay, "Delay before session.updated")->group(behaviour);
  app.add_flag("--never-updated", neverUpdated, "Never send session.updated")->group(behaviour);
  app.add_flag("--no-echo", noEcho, "Do not play received audio back")->group(behaviour);
  app.add_option("--closed-delay-ms", closedDelay, "Delay before answering session.close")->group(behaviour);
  app.add_flag("--never-closed", neverClosed, "Never answer session.close")->group(behaviour);
  app.add_option("--silent-after-blocks", silentAfterBlocks, "Send nothing at all after N audio blocks")
      ->group(behaviour);
  app.add_option("--silent-after-ms", silentAfterMs, "Send nothing at all from MS after the upgrade")
      ->group(behaviour);
  app.add_option("--error-after-blocks", errorAfterBlocks, "Send an error message after N audio blocks")
      ->group(behaviour);
  app.add_option("--error-message", errorMessage, "Text of --error-after-blocks")->group(behaviour);
  app.add_option("--error-string-after-blocks", errorStringAfterBlocks,
                 "Send an error whose \"error\" is a plain string after N blocks")
      ->group(behaviour);
  app.add_option("--malformed-after-blocks", malformedAfterBlocks, "Send text that is not JSON after N blocks")
      ->group(behaviour);
  app.add_option("--non-object-after-blocks", nonObjectAfterBlocks, "Send a JSON array after N blocks")
      ->group(behaviour);
  app.add_option("--oversized-after-blocks", oversizedAfterBlocks, "Send a message over 4 MiB after N blocks")
      ->group(behaviour);
  app.add_option("--close-code", closeCode, "Close code of the --close-* options (default 1000)")->group(behaviour);
  app.add_flag("--close-at-connect", closeAtConnect, "Close right after the upgrade")->group(behaviour);
  app.add_option("--close-after-blocks", closeAfterBlocks, "Close after N audio blocks")->group(behaviour);
  app.add_option("--close-after-ms", closeAfterMs, "Close MS after the upgrade")->group(behaviour);
  app.add_option("--drop-after-blocks", dropAfterBlocks, "Drop the TCP connection after N blocks")->group(behaviour);
  app.add_option("--stop-reading-after-blocks", stopReadingAfterBlocks,
                 "Read nothing more after N audio blocks: a stalled uplink (see --receive-buffer)")
      ->group(behaviour);
  app.add_option("--refuse-upgrade", refuseUpgrade, "Answer the upgrade with this HTTP status")->group(behaviour);
  app.add_option("--models-status", modelsStatus, "Fixed status of the models endpoint (e.g. 401, 403, 500, 204)")
      ->group("Key check");
  app.add_option("--models-body", modelsBody, "Body of --models-status")->group("Key check");

  CLI11_PARSE(app, argc, argv);

  config.acceptedKeys = splitList(keys);
  config.acceptedTokens = splitList(tokens);
  std::mutex outputMutex;
  if (verbose)
    config.log = [&](const std::string& line) {
      std::lock_guard guard(outputMutex);
      std::cerr << line << '\n';
    };

  if (noExpiry) script.expiresIn.reset();
  else script.expiresIn = std::chrono::duration<double>(expiresIn);
  script.sendCreated = !noCreated;
  if (neverUpdated) script.updatedDelay.reset();
  else script.updatedDelay = Milliseconds(updatedDelay);
  script.echo = !noEcho;
  if (neverClosed) script.closedDelay.reset();
  else script.closedDelay = Milliseconds(closedDelay);
  script.refuseUpgrade = refuseUpgrade;
  const auto afterBlocks = [&](const std::optional<std::size_t>& n, Action action) {
    if (n) script.at(Trigger::afterBlocks(*n), std::move(action));
  };
  afterBlocks(errorAfterBlocks, Action::error(errorMessage));
  afterBlocks(errorStringAfterBlocks, Action::errorString(errorMessage));
  afterBlocks(malformedAfterBlocks, Action::malformed());
  afterBlocks(nonObjectAfterBlocks, Action::nonObject());
  afterBlocks(oversizedAfterBlocks, Action::oversized());
  afterBlocks(silentAfterBlocks, Action::goSilent());
  afterBlocks(closeAfterBlocks, Action::close(closeCode));
  afterBlocks(dropAfterBlocks, Action::drop());
  afterBlocks(stopReadingAfterBlocks, Action::stopReading());
  if (silentAfterMs) script.at(Trigger::afterTime(Milliseconds(*silentAfterMs)), Action::goSilent());
  if (closeAfterMs) script.at(Trigger::afterTime(Milliseconds(*closeAfterMs)), Action::close(closeCode));
  if (closeAtConnect) script.at(Trigger::atAccept(), Action::close(closeCode));

  // Block the stop signals before any thread starts, then wait for one.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  auto emulator = ServiceEmulator::start(config);
  if (!emulator) {
    std::cerr << "oskel-service-emulator: " << emulator.error() << '\n';
    return 1;
  }
  if (connection > 0) {
    (*emulator)->setScript(connection, script);
  } else {
    (*emulator)->setScript(script);
  }
  if (modelsStatus) (*emulator)->setModelsResponse(ModelsResponse{*modelsStatus, modelsBody});

  {
    std::lock_guard guard(outputMutex);
    std::cout << fmt::format("listening on {} ({})\n", (*emulator)->websocketOrigin(), (*emulator)->httpOrigin());
    if (config.tls) std::cout << "test CA: " << (*emulator)->caFile() << " (set OSKEL_CA_FILE to it)\n";
    std::cout << std::flush;
  }
  int received = 0;
  sigwait(&stopSignals, &received);
  const auto seen = (*emulator)->snapshot();
  std::cout << fmt::format("stopping after {} connections, {} audio blocks ({} bytes)\n", seen.connections.size(),
                           seen.totalAudioBlocks(), seen.totalAudioBytes());
  return 0;
}
