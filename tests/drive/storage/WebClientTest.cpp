#include <gtest/gtest.h>

#include "drive/storage/ReplyReading.h"
#include "drive/storage/WebClient.h"
#include "tests/support/ScriptedHttpServer.h"

namespace {

std::string ReadAll(WebClient& client, int* lastResult) {
  std::string body;
  char buffer[1024];
  int count;
  while ((count = client.read(buffer, sizeof buffer)) > 0) body.append(buffer, count);
  *lastResult = count;
  return body;
}

}  // namespace

TEST(WebClient, SendsTheTargetAsFormedWithOneHeaderAndNoBody) {
  ScriptedHttpServer server([](const std::string&) { return ScriptedHttpServer::Reply("ok"); });
  WebClient client;
  const std::u16string target = u"quellan?action=readdist&id=7&sessionid=s&hash=h+/=&t=1";
  ASSERT_EQ(client.open(u"127.0.0.1", server.port(), target, u"GET"), 0);
  ASSERT_EQ(client.send(), 0);
  EXPECT_TRUE(client.connected());
  int last = 1;
  EXPECT_EQ(ReadAll(client, &last), "ok");
  EXPECT_EQ(last, 0);
  EXPECT_FALSE(client.connected());

  ASSERT_EQ(server.requests().size(), 1u);
  const std::string head = server.requests()[0];
  EXPECT_EQ(
      head.rfind("GET quellan?action=readdist&id=7&sessionid=s&hash=h+/=&t=1 HTTP/1.0\r\n", 0), 0u)
      << head;
  EXPECT_NE(head.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"),
            std::string::npos);
  EXPECT_EQ(head.find("Accept:"), std::string::npos);
  EXPECT_EQ(head.find("Content-Length"), std::string::npos);
}

// Every name a resolver may know is used: underscores as they are, names beyond ASCII in
// their ASCII form. A proxy (curl's http_proxy) sees the name the request was made for.
TEST(WebClient, HostNamesWithUnderscoresAndBeyondAsciiAreUsed) {
  ScriptedHttpServer proxy([](const std::string&) { return ScriptedHttpServer::Reply("ok"); });
  std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.port());
  ::setenv("http_proxy", proxyUrl.c_str(), 1);
  struct Row {
    std::u16string host;
    std::string asSent;
  };
  for (const Row& row : std::vector<Row>{{u"my_server.test", "my_server.test"},
                                         {u"例子.test", "xn--fsqu00a.test"},
                                         {u"Bücher.test", "xn--bcher-kva.test"}}) {
    WebClient client;
    EXPECT_EQ(client.open(row.host, 8168, u"/x", u"GET"), 0);
    EXPECT_EQ(client.send(), 0) << row.asSent;
  }
  ::unsetenv("http_proxy");
  std::vector<std::string> requests = proxy.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_NE(requests[0].find("Host: my_server.test:8168\r\n"), std::string::npos) << requests[0];
  EXPECT_NE(requests[1].find("Host: xn--fsqu00a.test:8168\r\n"), std::string::npos) << requests[1];
  EXPECT_NE(requests[2].find("Host: xn--bcher-kva.test:8168\r\n"), std::string::npos)
      << requests[2];
}

TEST(WebClient, LargeBodiesArriveWholeInPieces) {
  std::string body;
  for (int i = 0; i < 300000; ++i) body.push_back(static_cast<char>('A' + i % 23));
  ScriptedHttpServer server([&](const std::string&) { return ScriptedHttpServer::Reply(body); });
  WebClient client;
  // Two requests on one client: the second open replaces the first request.
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(client.open(u"127.0.0.1", server.port(), u"/x", u"GET"), 0);
    ASSERT_EQ(client.send(), 0);
    int last = 1;
    EXPECT_EQ(ReadAll(client, &last), body);
    EXPECT_EQ(last, 0);
  }
}

TEST(WebClient, FailuresHaveTheirCodes) {
  WebClient client;
  // Nothing listens: the send fails.
  ASSERT_EQ(client.open(u"127.0.0.1", ClosedLoopbackPort(), u"/x", u"GET"), 0);
  EXPECT_EQ(client.send(), WebClient::kSendFailed);
  EXPECT_FALSE(client.connected());
  char byte;
  EXPECT_EQ(client.read(&byte, 1), -1);

  // A target that would split the request line is never sent.
  EXPECT_EQ(client.open(u"127.0.0.1", 1, u"/x y", u"GET"), WebClient::kNoRequest);
  EXPECT_EQ(client.open(u"127.0.0.1", 1, u"/x\r\nHost: evil", u"GET"), WebClient::kNoRequest);
  EXPECT_EQ(client.open(u"", 1, u"/x", u"GET"), WebClient::kNoConnection);
  EXPECT_EQ(client.open(u"example.org/x#", 1, u"/x", u"GET"), WebClient::kNoConnection);
  EXPECT_EQ(client.open(u"user@example.org", 1, u"/x", u"GET"), WebClient::kNoConnection);
  for (const char16_t* host : {u"a b", u"a\tb", u"a?b", u"a\\b", u"a\x7f"})
    EXPECT_EQ(client.open(host, 1, u"/x", u"GET"), WebClient::kNoConnection);

  // A server that closes without a word.
  ScriptedHttpServer silent([](const std::string&) { return std::string(); });
  ASSERT_EQ(client.open(u"127.0.0.1", silent.port(), u"/x", u"GET"), 0);
  EXPECT_EQ(client.send(), WebClient::kSendFailed);
}

TEST(WebClient, CutBodyDeliversWhatCameThenFails) {
  ScriptedHttpServer server([](const std::string&) {
    return std::string("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly ten b");
  });
  WebClient client;
  ASSERT_EQ(client.open(u"127.0.0.1", server.port(), u"/x", u"GET"), 0);
  ASSERT_EQ(client.send(), 0);
  int last = 0;
  EXPECT_EQ(ReadAll(client, &last), "only ten b");
  EXPECT_EQ(last, -1);

  ASSERT_EQ(client.open(u"127.0.0.1", server.port(), u"/x", u"GET"), 0);
  ASSERT_EQ(client.send(), 0);
  StreamedReply reply = ReadStreamed(client, nullptr);
  EXPECT_EQ(reply.status, StreamedReply::Status::kFailed);
  EXPECT_EQ(reply.text(), u"only ten b");
}

TEST(ReplyReading, StreamedTextKeepsCharactersSplitBetweenReads) {
  // Three-byte characters after one byte of padding straddle every 1024-byte read.
  std::string body = "x";
  for (int i = 0; i < 2000; ++i) body += "\xe6\x96\x87";
  ScriptedHttpServer server([&](const std::string&) { return ScriptedHttpServer::Reply(body); });
  WebClient client;
  ASSERT_EQ(client.open(u"127.0.0.1", server.port(), u"/x", u"GET"), 0);
  ASSERT_EQ(client.send(), 0);
  EXPECT_EQ(ReadStreamed(client, nullptr).text(), u"x" + std::u16string(2000, u'文'));
}

TEST(ReplyReading, SingleBufferStopsAt1024LinkReadsOnce) {
  std::string longReply = "ok," + std::string(2000, 'x');
  ScriptedHttpServer server(
      [&](const std::string&) { return ScriptedHttpServer::Reply(longReply); });
  WebClient client;
  ASSERT_EQ(client.open(u"127.0.0.1", server.port(), u"/x", u"GET"), 0);
  ASSERT_EQ(client.send(), 0);
  EXPECT_EQ(ReadSingleBuffer(client).size(), 1024u);

  ASSERT_EQ(client.open(u"127.0.0.1", server.port(), u"/x", u"GET"), 0);
  ASSERT_EQ(client.send(), 0);
  StreamedReply whole = ReadStreamed(client, [] { return true; });
  EXPECT_EQ(whole.status, StreamedReply::Status::kComplete);
  EXPECT_EQ(whole.bytes, longReply);

  ASSERT_EQ(client.open(u"127.0.0.1", server.port(), u"/x", u"GET"), 0);
  ASSERT_EQ(client.send(), 0);
  EXPECT_EQ(ReadStreamed(client, [] { return false; }).status, StreamedReply::Status::kStopped);

  ASSERT_EQ(client.open(u"127.0.0.1", server.port(), u"/x", u"GET"), 0);
  ASSERT_EQ(client.send(), 0);
  std::optional<std::u16string> link = ReadLink(client);
  ASSERT_TRUE(link.has_value());
  EXPECT_LE(link->size(), 1024u);
  EXPECT_EQ(link->substr(0, 3), u"ok,");
}
