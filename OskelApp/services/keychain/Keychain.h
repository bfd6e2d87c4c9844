#pragma once

#include <chrono>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "KeychainFailure.h"

// The two secrets (the service API key and the relay access token) in the
// desktop's Secret Service, never in a file, a log line or the settings.
//
// Every call blocks its caller, which must be the thread of the running Qt
// application object (the main thread): each Secret Service request runs in a
// local event loop bounded by timeout(), so a missing or locked service gives
// a failure instead of a hang.
namespace oskel::Keychain {

inline constexpr std::string_view service = "com.brindlework.oskel";
inline constexpr std::string_view openAIKeyAccount = "OpenAI API key";

// "Oskel access token" for the production relay; for another relay origin
// the account names its host (or the whole origin when it has no host), so a
// token for a test relay never replaces the production one.
std::string oskelTokenAccount();
// "Oskel — " + account: how the desktop's secret manager lists the item.
std::string label(std::string_view account);

// Only the application may change items: it calls this at start-up with its
// desktop-file id. Tools and tests that do not can read but not write.
void setApplicationId(std::string desktopFileId);
std::optional<std::string> applicationId();

// Bound of one Secret Service request (default 10 s).
std::chrono::milliseconds timeout();
void setTimeout(std::chrono::milliseconds bound);

// The item's text; none when there is none or it cannot be read for any reason.
std::optional<std::string> string(std::string_view account);

// Deletes the item, then adds `value` when present. A failure leaves what the
// last successful step left (the old item may be gone).
std::expected<void, Failure> set(const std::optional<std::string>& value, std::string_view account);

// The secrets as the application loads them at start.
struct Secrets {
  std::optional<std::string> apiKey;
  std::optional<std::string> accessToken;
  // The token came from "OSKEL_TOKEN", not from the keychain.
  bool tokenFromEnvironment = false;
};
Secrets load();

}  // namespace oskel::Keychain
