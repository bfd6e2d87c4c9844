#include "log/ExceptionBridge.h"

namespace oskel::ObjC {

std::expected<void, Exception> catching(const std::function<void()>& body) {
  body();
  return {};
}

}  // namespace oskel::ObjC
