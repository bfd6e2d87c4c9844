#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <thread>

#include "pipeline/TranscriptConsole.h"

using oskel::TranscriptConsole;

// Runs of one kind share a line (as the pipeline tests show); another pipeline starts a new one.
TEST(TranscriptConsole, AlternatingPipelinesStartNewLinesAndSwitchesLeaveTheOpenLineAlone) {
  std::string text;
  TranscriptConsole console([&](std::string_view bytes) { text += bytes; });
  console.flushLine();  // nothing open yet: writes nothing
  EXPECT_TRUE(text.empty());
  console.append("en→es", "said", "uno");
  console.append("es→en", "said", "one");
  console.append("en→es", "said", "dos");
  console.flushLine();
  EXPECT_EQ(text, "[en→es said] uno\n[es→en said] one\n[en→es said] dos\n");

  // Switches drop fragments without touching the open line.
  text.clear();
  console.append("en→es", "said", "Hola");
  console.showInput = false;
  console.append("en→es", "heard", "Hello");
  console.append("en→es", "said", " amigo");
  EXPECT_EQ(text, "[en→es said] Hola amigo");

  console.enabled = false;
  console.append("en→es", "said", "ignored");
  console.enabled = true;
  console.append("en→es", "said", "!");
  EXPECT_EQ(text, "[en→es said] Hola amigo!");
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
  EXPECT_TRUE(text.ends_with('\n'));
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const bool prefixed = line.starts_with("[a said] x") || line.starts_with("[b said] x");
    EXPECT_TRUE(prefixed && line.find_first_not_of('x', 9) == std::string::npos) << line;
  }
  EXPECT_EQ(std::ranges::count(text, 'x'), 1000);
}
