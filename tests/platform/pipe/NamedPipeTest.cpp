// The pipe layer on real Unix sockets: where the pipe lives, who may reach it, one live
// server per path, and the ends of a connection as each side sees them.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/pipe/PipeClient.h"
#include "platform/pipe/PipePath.h"
#include "platform/pipe/PipeServer.h"
#include "tests/support/TempDir.h"

using named_pipe::PipeServer;

namespace {

// Sets or clears an environment variable for its lifetime and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode;
}

TEST(NamedPipeTest, PathComesFromTheEnvironment) {
  const std::string fallback = "/tmp/quellan-" + std::to_string(::getuid()) + "/Tarvex";
  struct Row {
    std::optional<std::string> pipe, runtime;
    std::string expected;
  };
  for (const Row& row : std::vector<Row>{{"/x/p", "/run/u", "/x/p"},
                                         {"", "/run/u", "/run/u/Tarvex"},
                                         {std::nullopt, "/run/u", "/run/u/Tarvex"},
                                         {std::nullopt, "", fallback},
                                         {std::nullopt, std::nullopt, fallback}}) {
    ScopedEnv pipe("QUELLAN_PIPE", row.pipe);
    ScopedEnv runtime("XDG_RUNTIME_DIR", row.runtime);
    EXPECT_EQ(named_pipe::PipePath(), row.expected);
  }
}

TEST(NamedPipeTest, OnlyItsUserReachesThePipe) {
  TempDir dir;
  std::string path = dir.file("run/Tarvex");
  PipeServer server;
  ASSERT_TRUE(server.create(path));
  EXPECT_TRUE(S_ISSOCK(ModeOf(path)));
  EXPECT_EQ(ModeOf(path) & 0777, 0600u);
  EXPECT_EQ(ModeOf(dir.file("run")) & 0777, 0700u);

  if (::getuid() != 0) GTEST_SKIP() << "changing to another user needs root";
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  auto otherUserConnects = [&] {
    pid_t child = fork();
    if (child == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(2);
      int fd = named_pipe::OpenPipe(path);
      _exit(fd < 0 && errno == EACCES ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  };
  EXPECT_FALSE(otherUserConnects()) << "through the closed folder";
  // Even with the folder opened for passing through, the socket's own mode keeps them out.
  ASSERT_EQ(::chmod(dir.file("run").c_str(), 0711), 0);
  EXPECT_FALSE(otherUserConnects()) << "through the socket's mode";
}

TEST(NamedPipeTest, CreationRefusesWhatItCannotTrustAndReplacesStaleSockets) {
  TempDir dir;
  // A folder others can enter.
  std::string open = dir.file("open");
  ::mkdir(open.c_str(), 0755);
  ::chmod(open.c_str(), 0755);
  PipeServer server;
  EXPECT_FALSE(server.create(open + "/Tarvex"));

  // A plain file at the path is left alone.
  std::string file = dir.file("Tarvex");
  std::ofstream(file) << "keep";
  EXPECT_FALSE(server.create(file));
  EXPECT_TRUE(S_ISREG(ModeOf(file)));
  ::unlink(file.c_str());

  // A socket whose server died is replaced.
  int dead = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, file.c_str());
  ASSERT_EQ(::bind(dead, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(dead);
  ASSERT_TRUE(server.create(file));

  // A live server keeps its path.
  PipeServer second;
  EXPECT_FALSE(second.create(file));
  server.close();
  EXPECT_FALSE(std::ifstream(file).good());
  EXPECT_EQ(named_pipe::OpenPipe(file), -1);
}

TEST(NamedPipeTest, EachSideSeesTheOtherLeave) {
  TempDir dir;
  std::string path = dir.file("Tarvex");
  PipeServer server;
  ASSERT_TRUE(server.create(path));
  int client = named_pipe::OpenPipe(path);
  ASSERT_GE(client, 0);
  ASSERT_TRUE(server.connect());
  ASSERT_TRUE(named_pipe::WritePipe(client, "ping", 4));
  char buffer[16] = {};
  EXPECT_EQ(server.read(buffer, sizeof(buffer)), 4);
  ASSERT_TRUE(server.write("pong", 4));
  EXPECT_TRUE(named_pipe::ReadPipe(client, buffer, 4));
  EXPECT_EQ(std::string(buffer, 4), "pong");

  server.disconnect();
  EXPECT_FALSE(named_pipe::ReadPipe(client, buffer, 4));
  // Writing to a closed connection fails instead of raising SIGPIPE.
  named_pipe::WritePipe(client, "x", 1);
  EXPECT_FALSE(named_pipe::WritePipe(client, "x", 1));
  named_pipe::ClosePipe(client);

  client = named_pipe::OpenPipe(path);
  ASSERT_TRUE(server.connect());
  named_pipe::ClosePipe(client);
  EXPECT_EQ(server.read(buffer, sizeof(buffer)), -1);
  EXPECT_FALSE(server.write("x", 1) && server.write("x", 1));

  // A waiting server can be woken from another thread.
  std::thread waker([&] { server.wake(); });
  EXPECT_FALSE(server.connect());
  waker.join();
}

}  // namespace
