#include "Keychain.h"

#include <atomic>
#include <functional>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include "service/OskelAPI.h"
#include "service/Url.h"

namespace oskel::Keychain {
namespace {

std::mutex identityMutex;
std::optional<std::string> identity;
std::atomic<std::chrono::milliseconds::rep> boundMs{10'000};

QString qt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

template <class Job>
std::unique_ptr<Job> makeJob(std::string_view account) {
  auto job = std::make_unique<Job>(qt(service));
  job->setAutoDelete(false);
  // Never a plain-text file, whatever backend QtKeychain ends up on.
  job->setInsecureFallback(false);
  job->setKey(qt(account));
  return job;
}

// Runs a job to its end in a local event loop. On time-out the job is left
// to finish on its own (the client library still holds it) and deletes
// itself then; the caller sees a failure.
// `finished` sees the job when it ends in time.
template <class Job>
std::optional<Failure::Status> run(std::unique_ptr<Job> job, const std::function<void(Job&)>& finished = {}) {
  if (!QCoreApplication::instance()) return Failure::Status{QKeychain::OtherError, "no Qt application is running"};
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  bool ended = false;
  // The loop is the context: the connection ends with this call.
  QObject::connect(job.get(), &QKeychain::Job::finished, &loop, [&] {
    ended = true;
    if (finished) finished(*job);
    loop.quit();
  });
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  job->start();
  timer.start(timeout());
  loop.exec();
  if (!ended) {
    auto* orphan = job.release();
    QObject::connect(orphan, &QKeychain::Job::finished, orphan, &QObject::deleteLater);
    return Failure::Status{QKeychain::OtherError,
                           "the Secret Service did not answer (is it running and unlocked?)"};
  }
  if (job->error() == QKeychain::NoError) return std::nullopt;
  return Failure::Status{static_cast<int>(job->error()), job->errorString().toStdString()};
}

}  // namespace

std::string oskelTokenAccount() {
  const auto origin = OskelAPI::origin();
  if (origin == OskelAPI::productionOrigin()) return "Oskel access token";
  const auto parts = Url::parse(origin);
  const auto& name = parts && !parts->host.empty() ? parts->host : origin;
  return "Oskel access token (" + name + ")";
}

std::string label(std::string_view account) { return "Oskel \u2014 " + std::string(account); }

void setApplicationId(std::string desktopFileId) {
  std::lock_guard guard(identityMutex);
  if (desktopFileId.empty()) {
    identity.reset();
  } else {
    identity = std::move(desktopFileId);
  }
}

std::optional<std::string> applicationId() {
  std::lock_guard guard(identityMutex);
  return identity;
}

std::chrono::milliseconds timeout() { return std::chrono::milliseconds(boundMs.load()); }
void setTimeout(std::chrono::milliseconds bound) { boundMs.store(bound.count()); }

std::optional<std::string> string(std::string_view account) {
  std::optional<std::string> text;
  const auto failure = run<QKeychain::ReadPasswordJob>(makeJob<QKeychain::ReadPasswordJob>(account), [&](auto& job) {
    if (job.error() == QKeychain::NoError) text = job.textData().toStdString();
  });
  if (failure) return std::nullopt;
  return text;
}

std::expected<void, Failure> set(const std::optional<std::string>& value, std::string_view account) {
  if (!applicationId()) return std::unexpected(Failure{Failure::UnbundledProcess{}});
  // Delete, then add: the label and attributes are written anew every time.
  if (auto failure = run(makeJob<QKeychain::DeletePasswordJob>(account));
      failure && failure->code != QKeychain::EntryNotFound) {
    return std::unexpected(Failure{*failure});
  }
  if (!value) return {};
  auto job = makeJob<QKeychain::WritePasswordJob>(account);
  job->setTextData(qt(*value));
  if (auto failure = run(std::move(job))) return std::unexpected(Failure{*failure});
  return {};
}

Secrets load() {
  Secrets secrets;
  secrets.apiKey = string(openAIKeyAccount);
  if (auto token = string(oskelTokenAccount()); token && !token->empty()) {
    secrets.accessToken = std::move(token);
  } else if (const char* env = std::getenv("OSKEL_TOKEN"); env && *env) {
    secrets.accessToken = env;
    secrets.tokenFromEnvironment = true;
  }
  return secrets;
}

}  // namespace oskel::Keychain
