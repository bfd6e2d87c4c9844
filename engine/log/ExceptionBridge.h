#pragma once

#include <expected>
#include <functional>
#include <string>

// Turns a framework exception into an error value. Linux audio and network
// libraries report failures through return codes, so here the bridge only
// runs the body; other platforms plug their exception handler in behind it.
namespace oskel::ObjC {

struct Exception {
  std::string description;
};

std::expected<void, Exception> catching(const std::function<void()>& body);

}  // namespace oskel::ObjC
