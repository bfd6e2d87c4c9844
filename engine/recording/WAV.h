#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace oskel {

// Why a WAV file could not be read or written. description() is shown to
// users and written to the log as it stands.
struct WAVError {
  enum class Kind {
    missingChunk,  // detail: the chunk name, "fmt " or "data"
    unsupported,   // detail: what is not supported
    notRIFF,
    file,          // the file system's own error; detail: its text and the path
  };
  Kind kind;
  std::string detail;

  static WAVError missingChunk(std::string name) { return {Kind::missingChunk, std::move(name)}; }
  static WAVError unsupported(std::string what) { return {Kind::unsupported, std::move(what)}; }
  static WAVError notRIFF() { return {Kind::notRIFF, {}}; }
  static WAVError file(const std::filesystem::path& path, std::error_code error);

  std::string description() const;
  bool operator==(const WAVError&) const = default;
};

// A small RIFF/WAVE toolkit: a header reader, a full reader that returns mono
// float audio, and a writer for mono 16-bit files. Numbers are little-endian.
namespace WAV {

struct Info {
  double sampleRate = 0;
  int channels = 0;
  int bitsPerSample = 0;
  int64_t frames = 0;  // sample frames in the data chunk, as declared
};

struct Audio {
  std::vector<float> samples;  // mono: the average of all channels
  double sampleRate = 0;
  double duration() const { return static_cast<double>(samples.size()) / sampleRate; }
};

// Describes a file from its first 64 KiB without loading the audio.
std::expected<Info, WAVError> info(const std::filesystem::path& path);

// Loads a whole file: 16-, 24- or 32-bit integer PCM or 32-bit float, plain
// or extensible format tag, any number of channels (averaged to mono).
std::expected<Audio, WAVError> read(const std::filesystem::path& path);

// Writes mono 16-bit PCM (the PCM16 encoder's rounding) with a 44-byte header,
// replacing the file as a whole. The rate must be finite, non-negative and
// below 2^32 (it is truncated to whole hertz).
std::expected<void, WAVError> writePCM16(std::span<const float> samples, double sampleRate,
                                         const std::filesystem::path& path);

// The readers on bytes already in memory.
std::expected<Info, WAVError> parseInfo(std::span<const uint8_t> bytes);
std::expected<Audio, WAVError> parse(std::span<const uint8_t> bytes);

// The 44-byte header of a 16-bit PCM file with `dataBytes` of interleaved samples.
std::array<uint8_t, 44> pcm16Header(uint32_t dataBytes, uint32_t sampleRate, uint16_t channels);

// Unsigned little-endian numbers at a byte offset; 0 when they would run past the end.
uint16_t readLE16(std::span<const uint8_t> bytes, uint64_t offset);
uint32_t readLE32(std::span<const uint8_t> bytes, uint64_t offset);

}  // namespace WAV
}  // namespace oskel
