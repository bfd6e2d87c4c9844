#pragma once

#include <string>
#include <variant>

namespace oskel::Keychain {

// Why a change of a keychain item failed. The description is shown unchanged.
struct Failure {
  // The Secret Service (or the client library) refused; `message` is its own
  // text, empty when it gave none.
  struct Status {
    int code = 0;
    std::string message;
    bool operator==(const Status&) const = default;
  };
  // The process has not identified itself as the Oskel application.
  struct UnbundledProcess {
    bool operator==(const UnbundledProcess&) const = default;
  };

  std::variant<Status, UnbundledProcess> reason;

  std::string description() const;
  bool operator==(const Failure&) const = default;
};

}  // namespace oskel::Keychain
