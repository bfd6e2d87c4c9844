#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "pipeline/TranscriptConsole.h"

using oskel::TranscriptConsole;

namespace {

struct Recorded {
  std::string text;
  int writes = 0;
};

TranscriptConsole makeConsole(Recorded& out) {
  return TranscriptConsole([&out](std::string_view bytes) {
    out.text += bytes;
    ++out.writes;
  });
}

}  // namespace

// Runs of one kind share a line (as the pipeline tests show); another pipeline starts a new one.
TEST(TranscriptConsole, AlternatingPipelinesStartNewLinesAndSwitchesLeaveTheOpenLineAlone) {
  Recorded out;
  auto console = makeConsole(out);
  console.flushLine();  // nothing open yet: writes nothing
  EXPECT_EQ(out.writes, 0);
  console.append("en→es", "said", "uno");
  console.append("es→en", "said", "one");
  console.append("en→es", "said", "dos");
  console.flushLine();
  EXPECT_EQ(out.text, "[en→es said] uno\n[es→en said] one\n[en→es said] dos\n");

  // Switches drop fragments without touching the open line.
  out.text.clear();
  console.append("en→es", "said", "Hola");
  console.showInput = false;
  console.append("en→es", "heard", "Hello");
  console.append("en→es", "said", " amigo");
  EXPECT_EQ(out.text, "[en→es said] Hola amigo");

  console.enabled = false;
  console.append("en→es", "said", "ignored");
  console.enabled = true;
  console.append("en→es", "said", "!");
  EXPECT_EQ(out.text, "[en→es said] Hola amigo!");
}

TEST(TranscriptConsole, ConcurrentPipelinesNeverSplitAPrefix) {
  std::mutex mutex;
  std::string text;
  TranscriptConsole console([&](std::string_view bytes) {
    std::lock_guard guard(mutex);
    text += bytes;
  });
  auto speaker = [&](const char* label) {
    for (int i = 0; i < 500; ++i) console.append(label, "said", "x");
  };
  std::thread a(speaker, "a");
  std::thread b(speaker, "b");
  a.join();
  b.join();
  console.flushLine();
  // Every line is one prefix followed by fragments of that pipeline only.
  size_t start = 0, total = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start, end - start);
    ASSERT_TRUE(line.rfind("[a said] ", 0) == 0 || line.rfind("[b said] ", 0) == 0) << line;
    const std::string body = line.substr(9);
    EXPECT_EQ(body.find_first_not_of('x'), std::string::npos) << line;
    total += body.size();
    start = end + 1;
  }
  EXPECT_EQ(total, 1000u);
}
