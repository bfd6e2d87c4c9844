#include "emulator/EmulatorRecords.h"

#include <algorithm>
#include <cctype>

namespace oskel::emulator {
namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string ConnectionRecord::header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (equalsIgnoringCase(key, name)) return value;
  return {};
}

std::size_t ConnectionRecord::countReceived(const std::string& type) const {
  return static_cast<std::size_t>(std::count(receivedTypes.begin(), receivedTypes.end(), type));
}

std::size_t Snapshot::totalAudioBlocks() const {
  std::size_t total = 0;
  for (const auto& c : connections) total += c.audioBlocks;
  return total;
}

std::size_t Snapshot::totalAudioBytes() const {
  std::size_t total = 0;
  for (const auto& c : connections) total += c.audioBytes;
  return total;
}

const ConnectionRecord* Snapshot::connection(std::size_t index) const {
  if (index == 0 || index > connections.size()) return nullptr;
  return &connections[index - 1];
}

std::size_t Records::addConnection(ConnectionRecord record) {
  std::size_t index;
  {
    std::lock_guard guard(mutex_);
    index = data_.connections.size() + 1;
    record.index = index;
    data_.connections.push_back(std::move(record));
  }
  changed_.notify_all();
  return index;
}

void Records::update(std::size_t index, const std::function<void(ConnectionRecord&)>& change) {
  {
    std::lock_guard guard(mutex_);
    if (index == 0 || index > data_.connections.size()) return;
    change(data_.connections[index - 1]);
  }
  changed_.notify_all();
}

void Records::addModelsRequest(ModelsRequest request) {
  {
    std::lock_guard guard(mutex_);
    data_.modelsRequests.push_back(std::move(request));
  }
  changed_.notify_all();
}

Snapshot Records::snapshot() const {
  std::lock_guard guard(mutex_);
  return data_;
}

bool Records::waitUntil(const std::function<bool(const Snapshot&)>& condition,
                        std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return condition(data_); });
}

}  // namespace oskel::emulator
