// The API key check: the status mapping alone, and the whole request against the emulator.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <tuple>

#include "NetworkProbe.h"
#include "emulator/ServiceEmulator.h"
#include "service/HttpGet.h"
#include "service/OpenAIAuth.h"
#include "service/ServiceRequests.h"

using namespace oskel;
using namespace oskel::emulator;
using namespace oskel::test;
using OpenAIAuth::Rejected;
using OpenAIAuth::Unknown;
using OpenAIAuth::Valid;
using OpenAIAuth::Verdict;

namespace {

struct Outcome {
  Verdict verdict;
  std::thread::id thread;
  int calls;
};

// Runs one check and waits for its completion.
Outcome checkKey(const std::string& key, double timeout = 10.0) {
  auto calls = std::make_shared<std::vector<std::pair<Verdict, std::thread::id>>>();
  auto first = std::make_shared<std::promise<void>>();
  OpenAIAuth::check(key, timeout, [calls, first](Verdict verdict) {
    calls->emplace_back(std::move(verdict), std::this_thread::get_id());
    if (calls->size() == 1) first->set_value();
  });
  if (first->get_future().wait_for(networkWait) != std::future_status::ready) return {Unknown{"no completion"}, {}, 0};
  // A second call would come from the same network thread right after the
  // first: flush it out with another job there before counting.
  std::promise<void> flushed;
  HttpRequest flush;
  flush.url = "not a url";
  httpGet(flush, [&](auto) { flushed.set_value(); });
  flushed.get_future().wait();
  return {calls->front().first, calls->front().second, static_cast<int>(calls->size())};
}

std::string describe(const Verdict& verdict) {
  if (const auto* r = std::get_if<Rejected>(&verdict)) return "rejected(" + r->reason + ")";
  if (const auto* u = std::get_if<Unknown>(&verdict)) return "unknown(" + u->why + ")";
  return "valid";
}

}  // namespace

// A 204 and a 403 with a message go through the emulator test below.
TEST(KeyCheckVerdict, MapsStatusAndBody) {
  const auto errorBody =
      R"({"error":{"message":"Incorrect API key provided: sk-ab****wxyz","code":"invalid_api_key"}})";
  EXPECT_EQ(OpenAIAuth::verdictFor(299, "not json"), Verdict(Valid{}));
  EXPECT_EQ(OpenAIAuth::verdictFor(401, errorBody), Verdict(Rejected{"Incorrect API key provided: sk-ab****wxyz"}));
  // Only a string at error.message counts.
  EXPECT_EQ(OpenAIAuth::verdictFor(401, "<html>nope</html>"), Verdict(Rejected{"HTTP 401"}));
  EXPECT_EQ(OpenAIAuth::verdictFor(401, R"({"error":"bad key"})"), Verdict(Rejected{"HTTP 401"}));
  EXPECT_EQ(OpenAIAuth::verdictFor(403, R"({"error":{"message":42}})"), Verdict(Rejected{"HTTP 403"}));
  EXPECT_EQ(OpenAIAuth::verdictFor(403, R"([{"error":{"message":"x"}}])"), Verdict(Rejected{"HTTP 403"}));
  EXPECT_EQ(OpenAIAuth::verdictFor(401, ""), Verdict(Rejected{"HTTP 401"}));
  // Any other status says nothing about the key, even with an error body.
  EXPECT_EQ(OpenAIAuth::verdictFor(500, errorBody), Verdict(Unknown{"HTTP 500"}));
  EXPECT_EQ(OpenAIAuth::verdictFor(429, errorBody), Verdict(Unknown{"HTTP 429"}));
  EXPECT_EQ(OpenAIAuth::verdictFor(302, ""), Verdict(Unknown{"HTTP 302"}));
  EXPECT_EQ(OpenAIAuth::verdictFor(199, ""), Verdict(Unknown{"HTTP 199"}));
}

TEST(KeyCheck, AsksTheModelsEndpointAndTransportFailuresAreUnknown) {
  auto emulator = startEmulator();
  ScopedEnvironment emulated("OSKEL_OPENAI_API", emulator->httpOrigin() + "/");

  emulator->setModelsResponse(ModelsResponse{403, R"({"error":{"message":"Project is not allowed"}})"});
  auto outcome = checkKey("sk-first");
  EXPECT_EQ(describe(outcome.verdict), "rejected(Project is not allowed)");
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_NE(outcome.thread, std::this_thread::get_id());

  // The mapping of other answers is the verdict table's.
  emulator->setModelsResponse(ModelsResponse{204, ""});
  EXPECT_EQ(describe(checkKey("sk-second").verdict), "valid");

  const auto requests = emulator->snapshot().modelsRequests;
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, "/v1/models?limit=1");
  EXPECT_EQ(requests[0].authorization, "Bearer sk-first");
  EXPECT_EQ(requests[1].authorization, "Bearer sk-second");

  // An untrusted certificate too is a transport failure, not a verdict on the key.
  const auto port = closedPort();
  SilentListener silent;
  ServiceEmulator::Config tls;
  tls.tls = true;
  auto untrusted = startEmulator(tls);
  const std::tuple<std::string, double, std::string> cases[] = {
      {fmt::format("http://127.0.0.1:{}", port), 10.0,
       fmt::format("could not connect to 127.0.0.1:{}: Connection refused", port)},
      {fmt::format("http://127.0.0.1:{}", silent.port()), 0.2, "timed out"},
      {untrusted->httpOrigin(), 10.0, "certificate verify failed"},
      {"ftp://service.example", 10.0, "not an HTTP URL: ftp://service.example/v1/models?limit=1"},
  };
  for (const auto& [origin, timeout, why] : cases) {
    ScopedEnvironment service("OSKEL_OPENAI_API", origin);
    const auto verdict = checkKey("sk-any", timeout).verdict;
    ASSERT_TRUE(std::holds_alternative<Unknown>(verdict)) << describe(verdict);
    EXPECT_NE(std::get<Unknown>(verdict).why.find(why), std::string::npos) << describe(verdict);
  }
  EXPECT_TRUE(untrusted->snapshot().modelsRequests.empty());
}

// An origin override in plain HTTP would put the key or token on the wire in
// clear text: allowed only towards this machine.
TEST(KeyCheck, NoCredentialInClearTextBeyondThisMachine) {
  {
    ScopedEnvironment service("OSKEL_OPENAI_API", "http://api.example.test:8080");
    EXPECT_EQ(describe(checkKey("sk-secret").verdict),
              "unknown(OSKEL_OPENAI_API points at http://api.example.test: a credential goes in clear text only to "
              "this machine (localhost, 127.0.0.0/8, ::1); use https:// for any other host)");
    const auto direct = makeTranslationRequest(TranslationCredential::openai("sk-secret"), TranslationOptions("es"));
    ASSERT_FALSE(direct.has_value());
    EXPECT_TRUE(direct.error().starts_with("OSKEL_OPENAI_API points at ws://api.example.test:")) << direct.error();
  }
  {
    ScopedEnvironment relay("OSKEL_API", "http://relay.example.test");
    const auto request = makeTranslationRequest(TranslationCredential::oskel("tok"), TranslationOptions("es"));
    ASSERT_FALSE(request.has_value());
    EXPECT_TRUE(request.error().starts_with("OSKEL_API points at ws://relay.example.test:")) << request.error();
  }
  for (const char* origin :
       {"http://127.3.4.5:9", "http://[::1]:9", "http://LocalHost:9", "https://relay.example.test"}) {
    ScopedEnvironment relay("OSKEL_API", origin);
    EXPECT_TRUE(makeTranslationRequest(TranslationCredential::oskel("tok"), TranslationOptions("es")).has_value())
        << origin;
  }
}
