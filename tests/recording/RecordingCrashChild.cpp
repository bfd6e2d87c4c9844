// Records synthetic audio until it is killed. Reports on standard output:
// "started" once the recording exists, then "flushed N" after every completed
// flush (N stereo frames in the file), so a test that kills it knows what the
// file must at least hold.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <fmt/format.h>

#include "RecordingTestSupport.h"
#include "recording/CallRecorder.h"

namespace {

void say(const std::string& line) {
  if (write(STDOUT_FILENO, line.data(), line.size()) < 0) _exit(3);
}

class ReportingPacer : public oskel::IntervalFlushPacer {
 public:
  void flushed(std::int64_t framesWritten) override { say(fmt::format("flushed {}\n", framesWritten)); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  auto made = oskel::CallRecorder::create(argv[1], 44100, 16000, {std::make_shared<ReportingPacer>()});
  if (!made) {
    std::fprintf(stderr, "%s\n", made.error().description().c_str());
    return 1;
  }
  auto& recorder = **made;
  say("started\n");
  // 10 ms callbacks at twice real time, both channels from one thread so that
  // they stay aligned and the file's content is known exactly. Stops on its
  // own after 30 s should nobody kill it.
  using namespace std::chrono;
  const auto start = steady_clock::now();
  for (std::int64_t callback = 0; callback < 6000; ++callback) {
    recorder.writeLeft(oskel::test::block(oskel::test::leftSignal, callback * 441, 441));
    recorder.writeRight(oskel::test::block(oskel::test::rightSignal, callback * 160, 160));
    std::this_thread::sleep_until(start + callback * 5ms);
  }
  recorder.stop();
  say("saved\n");
  return 0;
}
