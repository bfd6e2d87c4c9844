// The keychain on a real Secret Service: a private, unlocked gnome-keyring on
// a private session bus (scripts/keyring-session.sh).
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include <QCoreApplication>

#include "Keychain.h"
#include "support/ScopedEnv.h"

using namespace oskel;
using oskel::test::ScopedEnv;

namespace {

constexpr std::string_view appId = "com.brindlework.oskel";

// What the desktop's own secret tool sees for one account: "label = ..." and
// "secret = ..." lines, one group per item.
std::string itemsOf(std::string_view account) {
  const auto command = "secret-tool search --all server " + std::string(Keychain::service) + " user '" +
                       std::string(account) + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  std::string out;
  std::array<char, 512> chunk{};
  while (pipe && std::fgets(chunk.data(), chunk.size(), pipe.get())) out += chunk.data();
  return out;
}

size_t count(const std::string& text, std::string_view what) {
  size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class AsApplication {
 public:
  AsApplication() { Keychain::setApplicationId(std::string(appId)); }
  ~AsApplication() { Keychain::setApplicationId({}); }
};

}  // namespace

TEST(KeychainStore, SavingReplacesTheOneItemAndNoneDeletesIt) {
  AsApplication app;
  const auto account = Keychain::openAIKeyAccount;
  ASSERT_TRUE(Keychain::set("sk-first", account).has_value());
  ASSERT_TRUE(Keychain::set("sk-second-\u00e9\u2014", account).has_value());
  const auto items = itemsOf(account);
  EXPECT_EQ(count(items, "secret = "), 1u) << items;
  EXPECT_NE(items.find("secret = sk-second-\u00e9\u2014"), std::string::npos) << items;
  EXPECT_EQ(Keychain::string(account), "sk-second-\u00e9\u2014");

  ASSERT_TRUE(Keychain::set(std::nullopt, account).has_value());
  EXPECT_EQ(count(itemsOf(account), "secret = "), 0u);
  EXPECT_EQ(Keychain::string(account), std::nullopt);
  // Deleting what is not there is no failure.
  EXPECT_TRUE(Keychain::set(std::nullopt, account).has_value());
}

TEST(KeychainStore, AProcessThatIsNotTheAppReadsButCannotWrite) {
  const std::string account = "Oskel test item";
  {
    AsApplication app;
    ASSERT_TRUE(Keychain::set("kept", account).has_value());
  }
  for (const auto& value : {std::optional<std::string>("replaced"), std::optional<std::string>()}) {
    const auto refused = Keychain::set(value, account);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().description(), "keychain: only the Oskel app may change its items");
  }
  EXPECT_EQ(Keychain::string(account), "kept");
  EXPECT_EQ(count(itemsOf(account), "secret = "), 1u);
}

TEST(KeychainStore, LoadTakesOskelTokenOnlyWhenTheKeychainHasNone) {
  ScopedEnv relay("OSKEL_API", "https://relay.load.test");
  const auto account = Keychain::oskelTokenAccount();
  AsApplication app;
  ASSERT_TRUE(Keychain::set(std::nullopt, account).has_value());
  {
    ScopedEnv token("OSKEL_TOKEN", "");
    EXPECT_EQ(Keychain::load().accessToken, std::nullopt);
  }
  {
    ScopedEnv token("OSKEL_TOKEN", "env-token");
    const auto loaded = Keychain::load();
    EXPECT_EQ(loaded.accessToken, "env-token");
    EXPECT_TRUE(loaded.tokenFromEnvironment);
    // An empty keychain item counts as none too.
    ASSERT_TRUE(Keychain::set("", account).has_value());
    EXPECT_EQ(Keychain::load().accessToken, "env-token");
    ASSERT_TRUE(Keychain::set("keychain-token", account).has_value());
    const auto stored = Keychain::load();
    EXPECT_EQ(stored.accessToken, "keychain-token");
    EXPECT_FALSE(stored.tokenFromEnvironment);
  }
  ASSERT_TRUE(Keychain::set(std::nullopt, account).has_value());
}

TEST(KeychainNames, TokenAccountNamesAnyRelayButProduction) {
  for (const auto& [relay, account] : std::vector<std::pair<std::optional<std::string>, std::string>>{
           {std::nullopt, "Oskel access token"},
           {" https://relay.example.test:8443/ \n", "Oskel access token (relay.example.test)"},
           {"relay-without-scheme", "Oskel access token (relay-without-scheme)"}}) {
    ScopedEnv env("OSKEL_API", relay);
    EXPECT_EQ(Keychain::oskelTokenAccount(), account);
  }
  EXPECT_EQ(Keychain::label(Keychain::openAIKeyAccount), "Oskel \u2014 OpenAI API key");
  EXPECT_EQ((Keychain::Failure{Keychain::Failure::Status{-25300, ""}}.description()), "keychain: OSStatus -25300");
  EXPECT_EQ((Keychain::Failure{Keychain::Failure::Status{7, "Locked"}}.description()), "keychain: Locked");
}

// Run on its own with a session bus address that leads nowhere (CTest sets it).
TEST(KeychainWithoutSecretService, FailsClearlyWithinTheBound) {
  AsApplication app;
  Keychain::setTimeout(std::chrono::seconds(3));
  const auto start = std::chrono::steady_clock::now();
  const auto failed = Keychain::set("sk-never-stored", Keychain::openAIKeyAccount);
  ASSERT_FALSE(failed.has_value());
  EXPECT_TRUE(failed.error().description().starts_with("keychain: ")) << failed.error().description();
  EXPECT_EQ(failed.error().description().find("sk-never-stored"), std::string::npos);
  EXPECT_EQ(Keychain::string(Keychain::openAIKeyAccount), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(7));
}

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
