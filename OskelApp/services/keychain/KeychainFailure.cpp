#include "KeychainFailure.h"

#include <fmt/format.h>

namespace oskel::Keychain {

std::string Failure::description() const {
  if (std::holds_alternative<UnbundledProcess>(reason)) return "keychain: only the Oskel app may change its items";
  const auto& status = std::get<Status>(reason);
  if (!status.message.empty()) return "keychain: " + status.message;
  return fmt::format("keychain: OSStatus {}", status.code);
}

}  // namespace oskel::Keychain
