#include "recording/WAV.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

#include <fmt/format.h>

#include "dsp/PCM16.h"

namespace oskel {

WAVError WAVError::file(const std::filesystem::path& path, std::error_code error) {
  return {Kind::file, error.message() + ": " + path.string()};
}

std::string WAVError::description() const {
  switch (kind) {
    case Kind::missingChunk: return "WAV file has no " + detail + " chunk";
    case Kind::unsupported: return "unsupported WAV: " + detail;
    case Kind::notRIFF: return "not a RIFF/WAVE file";
    case Kind::file: return detail;
  }
  return detail;
}

namespace WAV {

namespace {

constexpr uint64_t infoReadLimit = 65536;
constexpr uint16_t tagPCM = 1;
constexpr uint16_t tagFloat = 3;
constexpr uint16_t tagExtensible = 0xFFFE;

struct Chunk {
  uint64_t body;  // offset of the chunk's body
  uint32_t size;  // declared body size
};

struct Chunks {
  Chunk format;
  Chunk data;
};

bool hasId(std::span<const uint8_t> bytes, uint64_t offset, std::string_view id) {
  return offset + 4 <= bytes.size() && std::memcmp(bytes.data() + offset, id.data(), 4) == 0;
}

// Finds the first "fmt " and "data" chunks. Odd-sized chunks are followed by a pad byte.
std::expected<Chunks, WAVError> walk(std::span<const uint8_t> bytes) {
  if (bytes.size() < 12 || !hasId(bytes, 0, "RIFF") || !hasId(bytes, 8, "WAVE"))
    return std::unexpected(WAVError::notRIFF());
  std::optional<Chunk> format;
  std::optional<Chunk> data;
  for (uint64_t offset = 12; offset + 8 <= bytes.size();) {
    const Chunk chunk{offset + 8, readLE32(bytes, offset + 4)};
    if (!format && hasId(bytes, offset, "fmt ")) format = chunk;
    if (!data && hasId(bytes, offset, "data")) data = chunk;
    offset = chunk.body + chunk.size + (chunk.size & 1u);
  }
  if (!format) return std::unexpected(WAVError::missingChunk("fmt "));
  if (!data) return std::unexpected(WAVError::missingChunk("data"));
  return Chunks{*format, *data};
}

std::expected<std::vector<uint8_t>, WAVError> load(const std::filesystem::path& path, uint64_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::unexpected(WAVError::file(path, std::error_code(errno, std::generic_category())));
  std::vector<uint8_t> bytes;
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return std::unexpected(WAVError::file(path, error));
  bytes.resize(static_cast<size_t>(std::min<uint64_t>(size, limit)));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (in.bad()) return std::unexpected(WAVError::file(path, std::make_error_code(std::errc::io_error)));
  return bytes;
}

std::string encodingDetail(uint16_t tag, uint16_t bits) { return fmt::format("format tag {}, {} bits", tag, bits); }

// One sample of an accepted encoding, as a float.
float sampleAt(const uint8_t* p, uint16_t tag, uint16_t bits) {
  if (tag == tagFloat) {
    float value;
    std::memcpy(&value, p, sizeof value);
    return value;
  }
  switch (bits) {
    case 16: return static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)))) * 0x1p-15f;
    case 24: {
      const uint32_t raw = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
      return static_cast<float>(static_cast<int32_t>(raw << 8) >> 8) * 0x1p-23f;
    }
    default: {
      const uint32_t raw = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
      return static_cast<float>(static_cast<int32_t>(raw)) * 0x1p-31f;
    }
  }
}

}  // namespace

uint16_t readLE16(std::span<const uint8_t> bytes, uint64_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 2) return 0;
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

uint32_t readLE32(std::span<const uint8_t> bytes, uint64_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
  return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<uint32_t>(bytes[offset + 2]) << 16) | (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

std::expected<Info, WAVError> parseInfo(std::span<const uint8_t> bytes) {
  const auto chunks = walk(bytes);
  if (!chunks) return std::unexpected(chunks.error());
  const uint64_t body = chunks->format.body;
  const uint16_t channels = readLE16(bytes, body + 2);
  const uint32_t rate = readLE32(bytes, body + 4);
  const uint16_t bits = readLE16(bytes, body + 14);
  // A frame must have at least one byte: no channels or sub-byte samples would divide by zero.
  if (channels < 1) return std::unexpected(WAVError::unsupported(fmt::format("channels={} rate={}", channels, rate)));
  if (bits < 8) return std::unexpected(WAVError::unsupported(encodingDetail(readLE16(bytes, body), bits)));
  const uint64_t frameBytes = uint64_t{channels} * bits / 8;
  return Info{static_cast<double>(rate), channels, bits, static_cast<int64_t>(chunks->data.size / frameBytes)};
}

std::expected<Audio, WAVError> parse(std::span<const uint8_t> bytes) {
  const auto chunks = walk(bytes);
  if (!chunks) return std::unexpected(chunks.error());
  const uint64_t body = chunks->format.body;
  uint16_t tag = readLE16(bytes, body);
  if (tag == tagExtensible && chunks->format.size >= 26) tag = readLE16(bytes, body + 24);
  const uint16_t channels = readLE16(bytes, body + 2);
  const uint32_t rate = readLE32(bytes, body + 4);
  const uint16_t bits = readLE16(bytes, body + 14);
  if (channels < 1 || rate == 0)
    return std::unexpected(WAVError::unsupported(fmt::format("channels={} rate={}", channels, rate)));
  const bool accepted = (tag == tagPCM && (bits == 16 || bits == 24 || bits == 32)) || (tag == tagFloat && bits == 32);
  if (!accepted) return std::unexpected(WAVError::unsupported(encodingDetail(tag, bits)));

  const uint64_t sampleBytes = bits / 8u;
  const uint64_t frameBytes = sampleBytes * channels;
  // A truncated file yields the complete frames it has.
  const uint64_t present = std::min<uint64_t>(chunks->data.size, bytes.size() - chunks->data.body);
  const uint64_t frames = present / frameBytes;
  Audio audio;
  audio.sampleRate = rate;
  audio.samples.resize(static_cast<size_t>(frames));
  const float scale = 1.0f / static_cast<float>(channels);
  const uint8_t* p = bytes.data() + chunks->data.body;
  for (uint64_t frame = 0; frame < frames; ++frame) {
    float sum = 0.0f;
    for (uint16_t channel = 0; channel < channels; ++channel, p += sampleBytes) sum += sampleAt(p, tag, bits);
    audio.samples[frame] = sum * scale;
  }
  return audio;
}

std::expected<Info, WAVError> info(const std::filesystem::path& path) {
  const auto bytes = load(path, infoReadLimit);
  if (!bytes) return std::unexpected(bytes.error());
  return parseInfo(*bytes);
}

std::expected<Audio, WAVError> read(const std::filesystem::path& path) {
  const auto bytes = load(path, UINT64_MAX);
  if (!bytes) return std::unexpected(bytes.error());
  return parse(*bytes);
}

std::array<uint8_t, 44> pcm16Header(uint32_t dataBytes, uint32_t sampleRate, uint16_t channels) {
  std::array<uint8_t, 44> h{};
  auto put = [&h](size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) h[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
  };
  auto id = [&h](size_t at, const char* text) { std::memcpy(h.data() + at, text, 4); };
  const uint32_t blockAlign = 2u * channels;
  id(0, "RIFF");
  put(4, dataBytes + 36, 4);
  id(8, "WAVE");
  id(12, "fmt ");
  put(16, 16, 4);
  put(20, tagPCM, 2);
  put(22, channels, 2);
  put(24, sampleRate, 4);
  put(28, sampleRate * blockAlign, 4);
  put(32, blockAlign, 2);
  put(34, 16, 2);
  id(36, "data");
  put(40, dataBytes, 4);
  return h;
}

std::expected<void, WAVError> writePCM16(std::span<const float> samples, double sampleRate,
                                         const std::filesystem::path& path) {
  if (!(sampleRate >= 0 && sampleRate < 4294967296.0))
    return std::unexpected(WAVError::unsupported(fmt::format("sample rate {}", sampleRate)));
  if (samples.size() >= (uint64_t{1} << 31) - 18)
    return std::unexpected(WAVError::unsupported(fmt::format("{} samples do not fit in one file", samples.size())));
  const auto dataBytes = static_cast<uint32_t>(2 * samples.size());
  std::vector<uint8_t> file(44 + dataBytes);
  const auto header = pcm16Header(dataBytes, static_cast<uint32_t>(sampleRate), 1);
  std::memcpy(file.data(), header.data(), header.size());
  PCM16::encode(samples, file.data() + 44);

  // Written beside the target and renamed over it, so a reader never sees half a file.
  std::filesystem::path temporary = path;
  temporary += ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return std::unexpected(WAVError::file(temporary, std::error_code(errno, std::generic_category())));
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return std::unexpected(WAVError::file(temporary, std::make_error_code(std::errc::io_error)));
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return std::unexpected(WAVError::file(path, error));
  }
  return {};
}

}  // namespace WAV
}  // namespace oskel
