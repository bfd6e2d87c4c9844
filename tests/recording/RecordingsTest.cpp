#include "recording/Recordings.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

#include "support/ScopedEnv.h"

#include "RecordingTestSupport.h"
#include "recording/WAV.h"

namespace oskel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using test::ScopedEnv;
using test::TempFolder;

// A home folder with a user-dirs.dirs holding `line`.
struct UserDirs {
  TempFolder home;
  ScopedEnv homeVar{"HOME", home.path().string()};
  ScopedEnv config{"XDG_CONFIG_HOME", std::nullopt};
  ScopedEnv music{"XDG_MUSIC_DIR", std::nullopt};

  explicit UserDirs(const std::optional<std::string>& line) {
    if (!line) return;
    fs::create_directories(home.path() / ".config");
    std::ofstream(home.path() / ".config" / "user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
        << *line << "\n";
  }
};

// A user-dirs.dirs line and the music folder it names, as xdg-user-dir
// reports it (an absolute folder replaces the home folder in the path below);
// without one, or with one naming the home folder itself, the folder is Music
// in the home folder.
TEST(Recordings, TheFolderIsTheUsersMusicFolderUnlessTheEnvironmentSaysOtherwise) {
  const std::vector<std::pair<std::optional<std::string>, std::string>> cases{
      {R"(XDG_MUSIC_DIR="$HOME/Sound Files")", "Sound Files"},
      {R"(XDG_MUSIC_DIR="/srv/music")", "/srv/music"},
      {R"(  XDG_MUSIC_DIR="${HOME}/Musik")", "Musik"},
      {std::nullopt, "Music"},
      {R"(XDG_VIDEOS_DIR="$HOME/Videos")", "Music"},
      {R"(XDG_MUSIC_DIR="$HOME/")", "Music"},
      {R"(XDG_MUSIC_DIR="$HOME")", "Music"}};
  for (const auto& [line, folder] : cases) {
    UserDirs dirs(line);
    EXPECT_EQ(Recordings::directory(), dirs.home.path() / folder / "Oskel Recordings") << line.value_or("none");
  }
  // The environment overrides the music folder.
  UserDirs dirs(R"(XDG_MUSIC_DIR="$HOME/Sound")");
  ScopedEnv music("XDG_MUSIC_DIR", "/tmp/elsewhere");
  EXPECT_EQ(Recordings::directory(), fs::path("/tmp/elsewhere/Oskel Recordings"));
}

TEST(Recordings, NamesCarryTheLocalStartTimeAndTheLanguagePairAndNeverReplaceAnEarlierOne) {
  TempFolder folder;
  // 5 March 2024 14:07:09 in a zone five and a half hours east of UTC.
  ScopedEnv zone("TZ", "<+0530>-5:30");
  const auto at = sys_days(2024y / March / 5) + 8h + 37min + 9s + 750ms;
  EXPECT_EQ(Recordings::newFileURL(folder.path(), "de", "fil", at).filename(), "Oskel 2024-03-05 14.07.09 de→fil.wav");

  // Recordings started in the same second.
  ScopedEnv utc("TZ", "UTC0");
  std::vector<fs::path> names;
  for (int i = 0; i < 3; ++i) {
    names.push_back(Recordings::newFileURL(folder.path(), "en", "es", at + milliseconds(100 * i)));
    std::ofstream(names.back()) << "taken";
  }
  EXPECT_EQ(names[0], folder / "Oskel 2024-03-05 08.37.09 en→es.wav");
  EXPECT_EQ(names[1].filename(), "Oskel 2024-03-05 08.37.09 en→es 2.wav");
  EXPECT_EQ(names[2].filename(), "Oskel 2024-03-05 08.37.09 en→es 3.wav");
  for (const auto& name : names) EXPECT_EQ(Recordings::languages(name.filename().string()), "en→es");
  // Another pair in the same second has a name of its own.
  EXPECT_EQ(Recordings::newFileURL(folder.path(), "es", "en", at).filename(), "Oskel 2024-03-05 08.37.09 es→en.wav");
}

TEST(Recordings, LanguagesAreTheFirstPairOfShortCodesInTheName) {
  EXPECT_EQ(Recordings::languages("Oskel 2024-03-05 14.07.09 en→es.wav"), "en→es");
  EXPECT_EQ(Recordings::languages("Oskel 2024-03-05 14.07.09 fil→yue 4.wav"), "fil→yue");
  EXPECT_EQ(Recordings::languages("call with Ana de→fr then fr→de.wav"), "de→fr");
  EXPECT_EQ(Recordings::languages("interview with Ana.wav"), std::nullopt);
  EXPECT_EQ(Recordings::languages("Oskel 2024-03-05 14.07.09 en->es.wav"), std::nullopt);
  EXPECT_EQ(Recordings::languages("Oskel EN→ES.wav"), std::nullopt);
  // A regional variant is not recognised, and not mistaken for a shorter code.
  EXPECT_EQ(Recordings::languages("Oskel 2024-03-05 14.07.09 pt-br→en.wav"), std::nullopt);
  EXPECT_EQ(Recordings::languages("Oskel 2024-03-05 14.07.09 en→zh-tw.wav"), std::nullopt);
  EXPECT_EQ(Recordings::languages("Oskel 2024-03-05 14.07.09 engl→es.wav"), std::nullopt);
}

TEST(Recordings, ListsWavFilesNewestFirstWithTheirHeaderDurationsAndAMissingFolderNothing) {
  TempFolder folder;
  const auto a = folder / "Oskel 2024-03-05 14.07.09 en→es.wav";
  const auto b = folder / "renamed by the user.WAV";
  const auto c = folder / "Oskel 2024-03-06 09.00.00 fr→de.wav";
  ASSERT_TRUE(WAV::writePCM16(std::vector<float>(24000, 0.25f), 48000, a));
  std::ofstream(folder / "notes.txt") << "not a recording";
  fs::create_directory(folder / "folder.wav");
  ASSERT_TRUE(WAV::writePCM16(std::vector<float>(16000, 0.25f), 16000, b));
  std::ofstream(c) << "RIFF but broken";

  const auto files = Recordings::list(folder.path());
  ASSERT_EQ(files.size(), 3u);
  for (size_t i = 1; i < files.size(); ++i) EXPECT_GE(files[i - 1].date, files[i].date);
  // Created one after the other: newest first, unless the clock did not move.
  if (files[0].date != files[1].date && files[1].date != files[2].date) {
    EXPECT_EQ(files[0].url, c);
    EXPECT_EQ(files[1].url, b);
    EXPECT_EQ(files[2].url, a);
  }
  const auto find = [&](const fs::path& url) {
    return *std::find_if(files.begin(), files.end(), [&](const auto& file) { return file.url == url; });
  };
  EXPECT_LT(std::abs(duration_cast<seconds>(system_clock::now() - files[0].date).count()), 60);

  EXPECT_EQ(find(a).duration, 0.5);
  EXPECT_EQ(find(a).bytes, 44 + 48000);
  EXPECT_EQ(find(a).languages, "en→es");
  EXPECT_EQ(find(b).duration, 1.0);
  EXPECT_EQ(find(b).languages, std::nullopt);
  EXPECT_EQ(find(c).duration, 0.0);  // unreadable header
  EXPECT_EQ(find(c).bytes, 15);
  EXPECT_EQ(find(c).languages, "fr→de");

  // A missing folder lists nothing.
  EXPECT_TRUE(Recordings::list(folder / "nowhere").empty());
  ScopedEnv music("XDG_MUSIC_DIR", (folder / "no music").string());
  EXPECT_TRUE(Recordings::list().empty());
}

}  // namespace
}  // namespace oskel
