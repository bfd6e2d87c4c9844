#include "Updater.h"

#include <unistd.h>

#include <cctype>
#include <chrono>

#include <fmt/format.h>

#include "FileDigest.h"
#include "PackageInstaller.h"
#include "log/Log.h"

namespace oskel {
namespace fs = std::filesystem;
using namespace update;

namespace {

constexpr std::chrono::hours checkInterval{6};
constexpr std::chrono::seconds feedTimeout{15};
constexpr std::chrono::milliseconds quitDelay{500};

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The feed location with a fresh "t" item, so no cache answers with an old feed.
std::string withTimeItem(const std::string& feed, Clock::WallTime now) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  const auto fragment = feed.find('#');
  const std::string base = feed.substr(0, fragment);
  const char* separator = base.find('?') == std::string::npos ? "?" : (base.back() == '?' || base.back() == '&' ? "" : "&");
  return fmt::format("{}{}t={}", base, separator, seconds);
}

}  // namespace

std::shared_ptr<Updater> Updater::create(std::shared_ptr<SerialQueue> mainQueue, Settings settings, Seams seams) {
  return std::make_shared<Updater>(std::move(mainQueue), std::move(settings), std::move(seams));
}

Updater::Updater(std::shared_ptr<SerialQueue> mainQueue, Settings settings, Seams seams)
    : mainQueue_(std::move(mainQueue)),
      settings_(std::move(settings)),
      seams_(std::move(seams)),
      installQueue_(std::make_unique<SerialQueue>("oskel.install")) {}

Updater::~Updater() {
  automaticChecks_.cancel();
  stallTimer_.cancel();
  if (downloadTask_) downloadTask_->cancel();
}

void Updater::setCallbacks(Callbacks callbacks) {
  std::lock_guard lock(mutex_);
  callbacks_ = std::move(callbacks);
}

Updater::Callbacks Updater::callbacks() const {
  std::lock_guard lock(mutex_);
  return callbacks_;
}

Updater::State Updater::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::optional<Clock::WallTime> Updater::lastChecked() const {
  std::lock_guard lock(mutex_);
  return lastChecked_;
}

std::optional<Updater::Release> Updater::available() const { return releaseOf(state()); }

void Updater::setState(State state) {
  {
    std::lock_guard lock(mutex_);
    state_ = state;
  }
  if (auto changed = callbacks().onStateChanged) changed(state);
}

void Updater::fail(const Release& release, std::string message) {
  Log::warn([&] { return fmt::format("update failed: {}", message); });
  setState(Failed{release, std::move(message)});
}

void Updater::post(void (Updater::*command)()) {
  mainQueue_->post([weak = weak_from_this(), command] {
    if (auto self = weak.lock()) ((*self).*command)();
  });
}

void Updater::startAutomaticChecks() {
  mainQueue_->post([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    self->automaticChecks_.cancel();
    self->runCheck(false);
    self->automaticChecks_ = self->mainQueue_->scheduleRepeating(checkInterval, checkInterval, [weak] {
      if (auto again = weak.lock()) again->runCheck(false);
    });
  });
}

void Updater::check(bool userInitiated) {
  mainQueue_->post([weak = weak_from_this(), userInitiated] {
    if (auto self = weak.lock()) self->runCheck(userInitiated);
  });
}

void Updater::beginUpdate() { post(&Updater::runUpdate); }

void Updater::runCheck(bool userInitiated) {
  if (isBusy(state())) {
    if (userInitiated)
      if (auto show = callbacks().onProgressUI) show();
    return;
  }
  setState(Checking{});
  const unsigned generation = ++checkGeneration_;
  HttpRequest request;
  request.url = withTimeItem(settings_.feedURL, mainQueue_->clock().wallNow());
  request.headers = {{"Cache-Control", "no-cache"}, {"Pragma", "no-cache"}};
  request.timeout = feedTimeout;
  seams_.get(request, [weak = weak_from_this(), queue = mainQueue_->ref(), generation,
                       userInitiated](std::expected<HttpResponse, std::string> outcome) {
    queue.post([weak, generation, userInitiated, outcome = std::move(outcome)]() mutable {
      if (auto self = weak.lock()) self->checked(generation, userInitiated, std::move(outcome));
    });
  });
}

void Updater::checked(unsigned generation, bool userInitiated, std::expected<HttpResponse, std::string> outcome) {
  // A newer check, or an update begun meanwhile, owns the state now.
  if (generation != checkGeneration_ || !std::holds_alternative<Checking>(state())) return;
  if (!outcome) return checkFailed(userInitiated, outcome.error());
  if (outcome->status < 200 || outcome->status > 299) return checkFailed(userInitiated, "update feed unavailable");
  auto release = decodeRelease(outcome->body);
  if (!release) return checkFailed(userInitiated, release.error());
  {
    std::lock_guard lock(mutex_);
    lastChecked_ = mainQueue_->clock().wallNow();
  }
  if (release->build <= settings_.runningBuild) {
    setState(UpToDate{});
    if (userInitiated)
      if (auto alert = callbacks().onAlert)
        alert("You're up to date", fmt::format("Oskel {} is the latest version.", settings_.runningVersion));
    return;
  }
  if (!isAcceptableVersion(release->version)) {
    // The version names the saved file: refuse it rather than offer it.
    Log::warn([&] { return fmt::format("update check failed: unusable version text in the feed (build {})", release->build); });
    setState(Failed{std::nullopt, "The update feed names its version in an unusable way."});
    if (userInitiated)
      if (auto show = callbacks().onProgressUI) show();
    return;
  }
  Log::info([&] {
    return fmt::format("update available: {} ({}), running {} ({})", release->version, release->build,
                       settings_.runningVersion, settings_.runningBuild);
  });
  setState(Available{*release});
  if (userInitiated) runUpdate();
}

void Updater::checkFailed(bool userInitiated, const std::string& why) {
  Log::warn([&] { return fmt::format("update check failed: {}", why); });
  setState(Idle{});
  if (userInitiated)
    if (auto alert = callbacks().onAlert) alert("Couldn't check for updates", why);
}

fs::path Updater::packagePath(const Release& release) const {
  return settings_.cacheFolder / ("Oskel-" + release.version + ".deb");
}

void Updater::runUpdate() {
  const State current = state();
  if (!std::holds_alternative<Available>(current) && !std::holds_alternative<Failed>(current)) return;
  const auto release = releaseOf(current);
  if (!release) return;
  if (!isAcceptableVersion(release->version))
    return fail(*release, "The update feed names its version in an unusable way.");
  Log::info([&] { return fmt::format("downloading update {}", release->version); });
  setState(Downloading{*release, 0, static_cast<std::uint64_t>(release->size)});
  if (auto show = callbacks().onProgressUI) show();

  std::error_code error;
  fs::create_directories(settings_.cacheFolder, error);
  if (error) return fail(*release, fmt::format("Could not save the update: {}", error.message()));
  const unsigned generation = ++downloadGeneration_;
  stallCancelled_ = false;
  stallTimer_ = mainQueue_->schedule(settings_.stallLimit, [weak = weak_from_this(), generation] {
    if (auto self = weak.lock()) self->stalled(generation);
  });
  HttpDownload::Request request;
  request.url = release->url;
  request.file = fs::path(packagePath(*release)) += ".part";
  request.maxBytes = static_cast<std::uint64_t>(release->size);
  request.connectTimeout = feedTimeout;
  const auto queue = mainQueue_->ref();
  const std::weak_ptr<Updater> weak = weak_from_this();
  downloadTask_ = seams_.download(
      request,
      [weak, queue, generation](std::uint64_t received, std::uint64_t total) {
        queue.post([weak, generation, received, total] {
          if (auto self = weak.lock()) self->progressed(generation, received, total);
        });
      },
      [weak, queue, generation, release = *release](std::expected<std::uint64_t, HttpDownload::Failure> result) {
        queue.post([weak, generation, release, result = std::move(result)]() mutable {
          if (auto self = weak.lock()) self->downloaded(generation, release, std::move(result));
        });
      });
}

void Updater::progressed(unsigned generation, std::uint64_t received, std::uint64_t total) {
  const State current = state();
  const auto* downloading = std::get_if<Downloading>(&current);
  // A cancel is not overridden by late progress.
  if (generation != downloadGeneration_ || !downloading || stallCancelled_) return;
  stallTimer_ = mainQueue_->schedule(settings_.stallLimit, [weak = weak_from_this(), generation] {
    if (auto self = weak.lock()) self->stalled(generation);
  });
  // Steps of a hundredth are enough for a progress bar; every network read would flood the window.
  const std::uint64_t whole = total ? total : downloading->total;
  if (received < whole && received - downloading->received < whole / 100) return;
  setState(Downloading{downloading->release, received, whole});
}

void Updater::stalled(unsigned generation) {
  if (generation != downloadGeneration_ || !std::holds_alternative<Downloading>(state()) || !downloadTask_) return;
  // The completion (after the partial file is gone) reports the failure.
  stallCancelled_ = true;
  downloadTask_->cancel();
}

void Updater::cancel() {
  mainQueue_->post([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    const State current = self->state();
    const auto* downloading = std::get_if<Downloading>(&current);
    if (!downloading) return;
    ++self->downloadGeneration_;
    self->stallTimer_.cancel();
    if (auto task = std::exchange(self->downloadTask_, nullptr)) task->cancel();
    std::error_code ignored;
    fs::remove(fs::path(self->packagePath(downloading->release)) += ".part", ignored);
    self->setState(Available{downloading->release});
  });
}

void Updater::downloaded(unsigned generation, const Release& release,
                         std::expected<std::uint64_t, HttpDownload::Failure> result) {
  if (generation != downloadGeneration_) return;
  stallTimer_.cancel();
  downloadTask_.reset();
  const fs::path partial = fs::path(packagePath(release)) += ".part";
  if (!result) {
    if (result.error().cancelled && !stallCancelled_) return;
    const std::string why = stallCancelled_
                                ? fmt::format("nothing arrived for {} seconds", settings_.stallLimit.count())
                                : result.error().description;
    return fail(release, fmt::format("Download failed: {}", why));
  }
  std::error_code error;
  if (*result != static_cast<std::uint64_t>(release.size)) {
    fs::remove(partial, error);
    return fail(release, fmt::format("Download failed: received {} bytes, the feed announced {}", *result, release.size));
  }
  const fs::path package = packagePath(release);
  fs::rename(partial, package, error);
  if (error) {
    fs::remove(partial, error);
    return fail(release, fmt::format("Could not save the update: {}", error.message()));
  }
  setState(Verifying{release});
  installQueue_->post([weak = weak_from_this(), queue = mainQueue_->ref(), release, package] {
    auto digest = sha256OfFile(package);
    queue.post([weak, release, package, digest = std::move(digest)]() mutable {
      if (auto self = weak.lock()) self->verified(release, package, std::move(digest));
    });
  });
}

void Updater::verified(const Release& release, const fs::path& package, std::expected<std::string, std::string> digest) {
  if (!std::holds_alternative<Verifying>(state())) return;
  if (!digest || *digest != lower(release.sha256)) {
    std::error_code ignored;
    fs::remove(package, ignored);
    return fail(release, "The downloaded file did not match its checksum.");
  }
  install(release, package);
}

void Updater::install(const Release& release, const fs::path& package) {
  if (auto isCallRunning = callbacks().isCallRunning; isCallRunning && isCallRunning())
    return fail(release, "Finish your call, then run the update again.");
  if (settings_.dryRun) {
    Log::info([&] { return fmt::format("update dry run: verified {}; not installing", package.string()); });
    return setState(Available{release});
  }
  setState(Installing{release});
  installQueue_->post([weak = weak_from_this(), queue = mainQueue_->ref(), run = seams_.runInstaller, release, package] {
    auto outcome = run(installCommand(package));
    queue.post([weak, release, outcome = std::move(outcome)] {
      if (auto self = weak.lock()) self->installed(release, outcome);
    });
  });
}

void Updater::installed(const Release& release, const ProcessOutcome& outcome) {
  if (auto failure = installFailure(outcome)) return fail(release, std::move(*failure));
  Log::info([] { return std::string("installed; relaunching"); });
  setState(Relaunching{release});
  // The new process waits for this one to exit before it starts its window.
  if (const auto why = seams_.relaunch({settings_.relaunchProgram, "--wait-for-pid", std::to_string(getpid())});
      !why.empty())
    Log::warn([&] { return fmt::format("update relaunch failed: {}", why); });
  mainQueue_->postAfter(quitDelay, [quit = seams_.quit] {
    if (quit) quit();
  });
}

}  // namespace oskel
