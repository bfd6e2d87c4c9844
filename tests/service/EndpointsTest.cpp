#include <cstdlib>

#include <gtest/gtest.h>

#include "service/NetworkRuntime.h"
#include "service/OskelAPI.h"
#include "service/ServiceRequests.h"
#include "service/TranslationOptions.h"
#include "service/Url.h"
#include "support/ScopedEnv.h"

using namespace oskel;
using test::ScopedEnv;

namespace {

TranslationOptions quietOptions() { return TranslationOptions("es", false, std::nullopt, "gpt-realtime-translate"); }

}  // namespace

TEST(OskelAPI, OriginIsCleanedAndFallsThrough) {
  const auto production = OskelAPI::productionOrigin();
  const auto secure = "wss://" + production.substr(production.find("://") + 3);
  // OSKEL_API, then the origin and the WebSocket origin made of it.
  const std::vector<std::tuple<std::optional<std::string>, std::string, std::string>> cases{
      {"  http://relay.test:8080/ \n", "http://relay.test:8080", "ws://relay.test:8080"},
      {"///", production, secure},
      {std::nullopt, production, secure},
      {"relay.test", "relay.test", "relay.test"}};
  for (const auto& [variable, origin, websocket] : cases) {
    ScopedEnv env("OSKEL_API", variable);
    EXPECT_EQ(OskelAPI::origin(), origin) << variable.value_or("unset");
    EXPECT_EQ(OskelAPI::websocketOrigin(), websocket) << variable.value_or("unset");
  }
}

TEST(OskelAPI, TranslateUrlQueryItemsInOrderOnlyFromAnOriginWithAScheme) {
  ScopedEnv env("OSKEL_API", "https://relay.test");
  auto url = OskelAPI::translateURL(quietOptions(), "tok");
  ASSERT_TRUE(url);
  EXPECT_EQ(*url, "wss://relay.test/v1/translate?to=es&transcribe=0&token=tok");

  auto withNoise = OskelAPI::translateURL(TranslationOptions("fr"), "a b&c");
  ASSERT_TRUE(withNoise);
  EXPECT_EQ(*withNoise, "wss://relay.test/v1/translate?to=fr&transcribe=1&token=a%20b%26c&noise=near_field");

  // An origin without a scheme cannot form one.
  ScopedEnv bare("OSKEL_API", "relay.test");
  url = OskelAPI::translateURL(quietOptions(), "tok");
  ASSERT_FALSE(url);
  EXPECT_NE(url.error().find("relay.test"), std::string::npos);
  EXPECT_FALSE(makeTranslationRequest(TranslationCredential::oskel("tok"), quietOptions()));
}

TEST(TranslationRequest, DirectAndRelayPathsAndASecureProductionService) {
  ScopedEnv relay("OSKEL_API", "http://127.0.0.1:9000");
  ScopedEnv service("OSKEL_OPENAI_API", "http://127.0.0.1:9001/");

  auto direct = makeTranslationRequest(TranslationCredential::openai("sk-1"), TranslationOptions("de"));
  ASSERT_TRUE(direct);
  EXPECT_EQ(direct->url, "ws://127.0.0.1:9001/v1/realtime/translations?model=gpt-realtime-translate");
  ASSERT_EQ(direct->headers.size(), 1u);
  EXPECT_EQ(direct->headers[0], (std::pair<std::string, std::string>{"Authorization", "Bearer sk-1"}));
  EXPECT_DOUBLE_EQ(direct->timeout.count(), 60.0);

  auto viaRelay = makeTranslationRequest(TranslationCredential::oskel("tok"), TranslationOptions("de"));
  ASSERT_TRUE(viaRelay);
  EXPECT_EQ(viaRelay->url, "ws://127.0.0.1:9000/v1/translate?to=de&transcribe=1&token=tok&noise=near_field");
  EXPECT_EQ(viaRelay->headers[0].second, "Bearer tok");

  // The production service is secure.
  ScopedEnv production("OSKEL_OPENAI_API", nullptr);
  EXPECT_EQ(ServiceEndpoints::realtimeEndpoint().substr(0, 6), "wss://");
  EXPECT_NE(ServiceEndpoints::realtimeEndpoint().find("/v1/realtime/translations"), std::string::npos);
}

TEST(Url, ParsesWhatTheTransportNeeds) {
  auto parts = Url::parse("wss://example.test/v1/x?a=1");
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->host, "example.test");
  EXPECT_EQ(parts->port, "443");
  EXPECT_EQ(parts->target, "/v1/x?a=1");

  auto ipv6 = Url::parse("ws://[::1]:8080");
  ASSERT_TRUE(ipv6);
  EXPECT_EQ(ipv6->host, "::1");
  EXPECT_EQ(ipv6->port, "8080");
  EXPECT_EQ(ipv6->target, "/");
  // A Host header names the port only when it is not the scheme's own, and
  // keeps an IPv6 literal's brackets (without them the port would be ambiguous).
  EXPECT_EQ(net::hostHeader(ipv6->host, ipv6->port, false), "[::1]:8080");
  EXPECT_EQ(net::hostHeader(parts->host, parts->port, true), "example.test");
  EXPECT_EQ(net::hostHeader("example.test", "443", false), "example.test:443");

  EXPECT_FALSE(Url::parse("ftp://example.test"));
  EXPECT_FALSE(Url::parse("ws://"));
  EXPECT_FALSE(Url::parse("ws://host:99999/"));
  EXPECT_FALSE(Url::parse("ws://user@host/"));
  EXPECT_FALSE(Url::parse("ws://ho st/"));
}
