#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "drive/stream/CRSWriter.h"
#include "drive/wire/CRSSocket.h"
#include "drive/wire/DataReply.h"
#include "drive/wire/ReplyFrame.h"
#include "platform/sync/Mutex.h"
#include "tests/support/ScriptedStreamServer.h"

using namespace streamwire;

namespace {

// A port on which nothing listens.
int ClosedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// One request on a fresh connection to a server that answers with `script`, then the reply
// received as `request` would be, into a buffer of `capacity` bytes.
struct Exchange {
  Fields fields;
  std::vector<uint8_t> data;
  int32_t dataSize = 0;
};

Exchange Ask(const ScriptedStreamServer::Handler& script, ReadRequest request, int32_t capacity,
             int timeoutMs = 10000) {
  ScriptedStreamServer server(script);
  CRSSocket socket;
  Mutex sendLock;
  Exchange out;
  EXPECT_EQ(socket.connect("127.0.0.1", server.port()), 0);
  EXPECT_EQ(socket.sendRequest("ask", sendLock), 11);
  out.data.assign(capacity, 0);
  std::atomic<bool> stop{false};
  CStreamLog log;
  out.fields = ReceiveDataReply(log, socket, request, timeoutMs, &stop, out.data.data(), capacity,
                                &out.dataSize);
  return out;
}

TEST(StreamFrames, RequestOfTheLargestSizeFitsOneFrame) {
  std::string text(1016, 'a');
  std::string frame = BuildRequestFrame(text);
  ASSERT_EQ(frame.size(), 1024u);
  EXPECT_EQ(frame.substr(0, 8), std::string("file\x00\x00\x03\xF8", 8));
  EXPECT_TRUE(BuildRequestFrame(std::string(1017, 'a')).empty());

  ScriptedStreamServer server([](ScriptedConnection& c, const std::string&) { c.reply("ok"); });
  CRSSocket socket;
  Mutex sendLock;
  ASSERT_EQ(socket.connect("localhost", std::to_string(server.port())), 0);
  EXPECT_EQ(socket.sendRequest(text, sendLock), 1024);
  EXPECT_EQ(socket.sendRequest(std::string(1017, 'a'), sendLock), -1);
  EXPECT_EQ(socket.receiveReply(), Fields{"ok"});
  EXPECT_EQ(server.frameLengths(), std::vector<uint32_t>{0x3F8});
  socket.close();
  EXPECT_EQ(socket.sendRequest("x", sendLock), -1);
  uint8_t byte;
  EXPECT_EQ(socket.receiveExact(&byte, 1), -1);
}

TEST(StreamFrames, FieldsSplitLikeTheCTokenizer) {
  EXPECT_EQ(SplitFields("ok,,5,x"), (Fields{"ok", "5", "x"}));
  EXPECT_EQ(SplitFields(",,ok,,"), Fields{"ok"});
  EXPECT_TRUE(SplitFields(",,,").empty());
  EXPECT_EQ(SplitFields(std::string("ok,1\0,2", 7)), (Fields{"ok", "1"}));
  EXPECT_EQ(ErrorWord(Fields{"err", "token"}), "token");
  EXPECT_EQ(ErrorWord(Fields{"busy"}), "busy");
  EXPECT_EQ(ErrorWord(Fields{}), "data is null");
}

TEST(StreamReplies, DataReplyWithDsizeTextReadsZeroBytes) {
  auto exchange = Ask([](ScriptedConnection& c, const std::string&) { c.reply("ok,,5,x"); },
                      ReadRequest::kRead, 100);
  EXPECT_EQ(exchange.fields, (Fields{"ok", "5", "x"}));
  EXPECT_EQ(exchange.dataSize, 0);
}

TEST(StreamReplies, DataAndHeadArriveWhole) {
  auto read = Ask([](ScriptedConnection& c, const std::string&) { c.reply("ok,70,5", "abcde"); },
                  ReadRequest::kFetch, 65536);
  ASSERT_EQ(read.fields, (Fields{"ok", "70", "5"}));
  EXPECT_EQ(std::string(read.data.begin(), read.data.begin() + 5), "abcde");

  auto open =
      Ask([](ScriptedConnection& c, const std::string&) { c.reply("ok,9,1000.0,mp4,3", "xyz"); },
          ReadRequest::kOpen, 65536);
  ASSERT_EQ(open.fields.size(), 5u);
  EXPECT_EQ(open.dataSize, 3);
  OpenReply parsed;
  ASSERT_TRUE(ParseOpenReply(open.fields, &parsed));
  EXPECT_EQ(parsed.fileLength, 1000);
  EXPECT_EQ(parsed.streamId, "9");
}

// Replies that arrive in one piece are read one after the other, each with its own data:
// none of the bytes a receive takes beyond the reply it reads is lost.
TEST(StreamReplies, RepliesArrivingTogetherAreReadInTurn) {
  const std::string large(3000, 'b');
  ScriptedStreamServer server([&](ScriptedConnection& c, const std::string&) {
    c.sendBytes(ScriptedConnection::Frame("ok,0,5", "abcde") +
                ScriptedConnection::Frame("ok,5,3000", large) +
                ScriptedConnection::Frame("err,stream"));
  });
  CRSSocket socket;
  Mutex sendLock;
  ASSERT_EQ(socket.connect("127.0.0.1", server.port()), 0);
  ASSERT_EQ(socket.sendRequest("ask", sendLock), 11);
  CStreamLog log;
  std::atomic<bool> stop{false};
  std::vector<uint8_t> data(65536);
  int32_t size = 0;
  auto receive = [&] {
    return ReceiveDataReply(log, socket, ReadRequest::kFetch, 10000, &stop, data.data(),
                            static_cast<int32_t>(data.size()), &size);
  };
  EXPECT_EQ(receive(), (Fields{"ok", "0", "5"}));
  EXPECT_EQ(std::string(data.begin(), data.begin() + size), "abcde");
  EXPECT_EQ(receive(), (Fields{"ok", "5", "3000"}));
  EXPECT_EQ(std::string(data.begin(), data.begin() + size), large);
  EXPECT_EQ(receive(), (Fields{"err", "stream"}));
}

TEST(StreamReplies, MalformedRepliesAreRejectedUnread) {
  struct Case {
    const char* what;
    ScriptedStreamServer::Handler script;
    ReadRequest request;
    int32_t capacity;
    const char* word;
  };
  std::vector<Case> cases = {
      {"empty text", [](auto& c, auto&) { c.replyRaw(0, ""); }, ReadRequest::kRead, 10,
       kSocketClose},
      {"text over 1015", [](auto& c, auto&) { c.replyRaw(1016, std::string(1016, 'o')); },
       ReadRequest::kRead, 10, kSocketClose},
      {"huge text length", [](auto& c, auto&) { c.replyRaw(0xFFFFFFFF, "ok"); }, ReadRequest::kRead,
       10, kSocketClose},
      {"header cut short",
       [](auto& c, auto&) {
         c.sendBytes("rpl");
         c.hangUp();
       },
       ReadRequest::kRead, 10, kSocketClose},
      {"text cut short",
       [](auto& c, auto&) {
         c.replyRaw(10, "ok,1");
         c.hangUp();
       },
       ReadRequest::kRead, 10, kSocketClose},
      {"dsize beyond the buffer", [](auto& c, auto&) { c.reply("ok,0,11", std::string(11, 'd')); },
       ReadRequest::kRead, 10, kDataError},
      {"negative dsize", [](auto& c, auto&) { c.reply("ok,0,-1"); }, ReadRequest::kFetch, 10,
       kDataError},
      {"data cut short",
       [](auto& c, auto&) {
         c.reply("ok,0,8", "abc");
         c.hangUp();
       },
       ReadRequest::kFetch, 10, kDataError},
      {"ok without dsize", [](auto& c, auto&) { c.reply("ok,0"); }, ReadRequest::kRead, 10,
       kDataError},
      {"ok with a fourth field", [](auto& c, auto&) { c.reply("ok,0,1,2", "a"); },
       ReadRequest::kFetch, 10, kDataError},
      {"negative offset", [](auto& c, auto&) { c.reply("ok,-5,1", "a"); }, ReadRequest::kFetch, 10,
       kDataError},
      {"offset beyond 64 bits", [](auto& c, auto&) { c.reply("ok,1e300,1", "a"); },
       ReadRequest::kFetch, 10, kDataError},
      {"open without head size", [](auto& c, auto&) { c.reply("ok,1,100,mp4"); },
       ReadRequest::kOpen, 65536, kDataError},
      {"open head over 64 KiB", [](auto& c, auto&) { c.reply("ok,1,1e6,mp4,65537"); },
       ReadRequest::kOpen, 65536, kDataError},
      {"open head cut short",
       [](auto& c, auto&) {
         c.reply("ok,1,100,mp4,100", "ab");
         c.hangUp();
       },
       ReadRequest::kOpen, 65536, kDataError},
  };
  for (const Case& test : cases) {
    auto exchange = Ask(test.script, test.request, test.capacity);
    EXPECT_EQ(exchange.fields, Fields{test.word}) << test.what;
    EXPECT_EQ(exchange.dataSize, 0) << test.what;
    // A rejected reply writes nothing, except the part of data that stopped short.
    if (std::string(test.what).find("cut short") != std::string::npos) continue;
    for (uint8_t byte : exchange.data) ASSERT_EQ(byte, 0) << test.what;
  }
}

TEST(StreamReplies, ErrorRepliesTimeoutsAndStop) {
  auto error = Ask([](auto& c, auto&) { c.reply("err,stream"); }, ReadRequest::kRead, 10);
  EXPECT_EQ(error.fields, (Fields{"err", "stream"}));
  EXPECT_EQ(ErrorWord(error.fields), "stream");

  auto silent = Ask([](auto&, auto&) {}, ReadRequest::kRead, 10, 1000);
  EXPECT_EQ(silent.fields, Fields{kTimeout});

  // A wait that fails (here on a descriptor number that cannot be open) is a socket error.
  CRSSocket broken;
  broken.attach(1 << 20);
  EXPECT_EQ(broken.receiveReply(1000), Fields{kSocketError});

  // A set stop flag ends the wait with no fields at all.
  ScriptedStreamServer server([](auto&, auto&) {});
  CRSSocket socket;
  ASSERT_EQ(socket.connect("127.0.0.1", server.port()), 0);
  std::atomic<bool> stop{true};
  EXPECT_TRUE(socket.receiveReply(10000, &stop).empty());
}

TEST(StreamSocket, ConnectFailures) {
  CRSSocket socket;
  EXPECT_EQ(socket.connect("127.0.0.1", ClosedPort()), -1);
  EXPECT_FALSE(socket.isOpen());
  EXPECT_EQ(socket.connect("127.0.0.1", "0"), -1);
  EXPECT_EQ(socket.connect("127.0.0.1", "70000"), -1);
  EXPECT_EQ(socket.connect("no-such-host.invalid", 80), -1);
  EXPECT_EQ(socket.connect("", 80), -1);
}

// A server side of the writer: records what arrives and answers as scripted.
struct UploadScript {
  std::mutex lock;  // the server's thread reads the replies the test sets
  std::string createReply = "ok,w7,0";
  std::string writeReply = "ok";
  std::string closeReply = "ok,w7,12345678901";
  std::string received;  // raw data of the writes
};

void Set(UploadScript& script, std::string* field, const std::string& value) {
  std::lock_guard<std::mutex> guard(script.lock);
  *field = value;
}

ScriptedStreamServer::Handler UploadHandler(UploadScript* script) {
  return [script](ScriptedConnection& c, const std::string& request) {
    std::lock_guard<std::mutex> guard(script->lock);
    Fields fields = SplitFields(request);
    if (fields[0] == "tw_create") c.reply(script->createReply);
    if (fields[0] == "tw_write") {
      std::string data;
      c.readBytes(&data, std::stoul(fields[3]));
      script->received += data;
      c.reply(script->writeReply);
    }
    if (fields[0] == "tw_close") c.reply(script->closeReply);
  };
}

TEST(StreamWriter, CreateWriteClose) {
  UploadScript script;
  ScriptedStreamServer server(UploadHandler(&script));
  CRSWriter writer;
  writer.setServer("127.0.0.1", std::to_string(server.port()));
  ASSERT_EQ(writer.create("session", "file9"), "ok");
  EXPECT_EQ(writer.writeId(), "w7");
  EXPECT_EQ(writer.create("session", "file9"), "ok");  // already created: nothing sent
  EXPECT_EQ(writer.write(0, 5, reinterpret_cast<const uint8_t*>("hello")), 0);
  EXPECT_EQ(writer.write(5, 0, nullptr), 0);
  EXPECT_EQ(writer.close(), 12345678901);
  EXPECT_FALSE(writer.created());
  {
    std::lock_guard<std::mutex> guard(script.lock);
    EXPECT_EQ(script.received, "hello");
  }
  EXPECT_EQ(server.requests(),
            (std::vector<std::string>{"tw_create,session,file9", "tw_write,w7,0,5",
                                      "tw_write,w7,5,0", "tw_close,w7"}));
  EXPECT_EQ(writer.write(0, 1, reinterpret_cast<const uint8_t*>("x")), -1);  // closed
}

TEST(StreamWriter, FailuresAndStatusWords) {
  CRSWriter unset;
  EXPECT_EQ(unset.create("a", "b"), kArgumentNotCorrect);
  EXPECT_EQ(unset.close(), 0);  // never created: nothing sent

  CRSWriter refused;
  refused.setServer("127.0.0.1", std::to_string(ClosedPort()));
  EXPECT_EQ(refused.create("a", "b"), kConnectFailed);
  EXPECT_EQ(refused.create("a", ""), kArgumentNotCorrect);

  UploadScript script;
  script.createReply = "err,quota";
  ScriptedStreamServer server(UploadHandler(&script));
  CRSWriter writer;
  writer.setServer("127.0.0.1", std::to_string(server.port()));
  EXPECT_EQ(writer.create("s", "f"), "quota");
  Set(script, &script.createReply, "ok,w1");  // lacks the number: not a usable reply
  EXPECT_EQ(writer.create("s", "f"), kDataError);
  EXPECT_FALSE(writer.created());
  EXPECT_EQ(writer.write(0, 1, reinterpret_cast<const uint8_t*>("x")), -1);

  Set(script, &script.createReply, "ok,w2,0");
  Set(script, &script.writeReply, "err,range");
  Set(script, &script.closeReply, "ok,w2");  // no stored size
  ASSERT_EQ(writer.create("s", "f"), "ok");
  EXPECT_EQ(writer.write(0, 1, reinterpret_cast<const uint8_t*>("x")), -3);
  EXPECT_EQ(writer.lastError(), "range");
  EXPECT_EQ(writer.close(), 0);

  CRSWriter tooLong;
  tooLong.setServer("127.0.0.1", std::to_string(server.port()));
  EXPECT_EQ(tooLong.create(std::string(1100, 's'), "f"), kArgumentNotCorrect);
  int before = server.connections();
  CRSWriter neverCreated;
  neverCreated.setServer("127.0.0.1", std::to_string(server.port()));
  EXPECT_EQ(neverCreated.close(), 0);
  EXPECT_EQ(server.connections(), before);
}

}  // namespace
