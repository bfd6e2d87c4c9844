// Arbitrary bytes as the release feed: a release or an error, never a crash,
// and a decoded release always has a usable size and a URL the downloader
// takes as http(s) (schemes are case-insensitive: "hTtps://" is one).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Release.h"
#include "service/Url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto release = oskel::update::decodeRelease(std::string_view(reinterpret_cast<const char*>(data), size));
  if (release) {
    if (release->size <= 0 || release->size > oskel::update::maxPackageBytes) __builtin_trap();
    const auto url = oskel::Url::parse(release->url);
    if (!url || !url->scheme.starts_with("http")) __builtin_trap();
    (void)oskel::update::isAcceptableVersion(release->version);
  }
  return 0;
}
