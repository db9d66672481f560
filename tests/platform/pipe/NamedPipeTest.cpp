// The pipe layer on real Unix sockets: where the pipe lives, who may reach it, which pipe a
// client trusts, one live server per path, and the ends of a connection as each side sees
// them.
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
#include "tests/platform/pipe/BareListener.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

using named_pipe::PipeServer;
using namespace std::chrono_literals;

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode;
}

constexpr uid_t kNobody = 65534;

// A folder `name` in `dir` with exactly `mode`, whatever the umask.
std::string FolderWithMode(const TempDir& dir, const std::string& name, mode_t mode) {
  std::string folder = dir.file(name);
  ::mkdir(folder.c_str(), 0700);
  ::chmod(folder.c_str(), mode);
  return folder;
}

// OpenPipe's answer at `path`: "" when it connected, else the reason it gave.
std::string Refusal(const std::string& path) {
  std::string refusal;
  int fd = named_pipe::OpenPipe(path, &refusal);
  named_pipe::ClosePipe(fd);
  return fd >= 0 ? "" : refusal.empty() ? "<no reason>" : refusal;
}

// A listener at `path` run by user nobody, in a child process, until it goes.
class ListenerOfAnotherUser {
 public:
  explicit ListenerOfAnotherUser(const std::string& path) {
    int ready[2], done[2];
    if (::pipe(ready) != 0 || ::pipe(done) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      ::close(ready[0]);
      ::close(done[1]);  // so that the read below ends when the test's end goes
      // Bound while still root, in the test's own folder; listening as nobody, so that
      // clients see nobody as the process serving it.
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
      int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      char byte = 0;
      bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 && ::listen(fd, 4) == 0;
      (void)!::write(ready[1], ok ? "y" : "n", 1);
      (void)!::read(done[0], &byte, 1);
      _exit(0);
    }
    ::close(ready[1]);
    ::close(done[0]);
    char answer = 'n';
    ok_ = ::read(ready[0], &answer, 1) == 1 && answer == 'y';
    ::close(ready[0]);
    done_ = done[1];
  }
  ~ListenerOfAnotherUser() {
    if (done_ >= 0) ::close(done_);
    if (child_ > 0) waitpid(child_, nullptr, 0);
  }
  bool ok() const { return ok_; }

 private:
  pid_t child_ = -1;
  int done_ = -1;
  bool ok_ = false;
};

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
      // A plain connect: what the system lets through, whatever our client would refuse.
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
      int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      int result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
      _exit(result != 0 && errno == EACCES ? 0 : 1);
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
  EXPECT_EQ(server.read(buffer, 4, 5s), 4);
  ASSERT_TRUE(server.write("pong", 4));
  EXPECT_TRUE(named_pipe::ReadPipe(client, buffer, 4, 5s));
  EXPECT_EQ(std::string(buffer, 4), "pong");
  EXPECT_FALSE(named_pipe::ConnectionSpent(client));

  server.disconnect();
  EXPECT_TRUE(named_pipe::ConnectionSpent(client));
  EXPECT_FALSE(named_pipe::ReadPipe(client, buffer, 4, 5s));
  // Writing to a closed connection fails instead of raising SIGPIPE.
  named_pipe::WritePipe(client, "x", 1);
  EXPECT_FALSE(named_pipe::WritePipe(client, "x", 1));
  named_pipe::ClosePipe(client);

  // Each side waits for the rest of what it asked for only as long as it was told to.
  client = named_pipe::OpenPipe(path);
  ASSERT_TRUE(server.connect());
  ASSERT_TRUE(named_pipe::WritePipe(client, "pi", 2));
  EXPECT_EQ(server.read(buffer, 4, 100ms), PipeServer::kTimedOut);
  EXPECT_FALSE(named_pipe::ReadPipe(client, buffer, 4, 100ms));
  named_pipe::ClosePipe(client);
  EXPECT_EQ(server.read(buffer, 4, 5s), -1);
  EXPECT_FALSE(server.write("x", 1) && server.write("x", 1));

  // A waiting server can be woken from another thread.
  std::thread waker([&] { server.wake(); });
  EXPECT_FALSE(server.connect());
  waker.join();
}

TEST(NamedPipeTest, OnlyAFolderClosedToOthersIsTrustedByEitherEnd) {
  struct Row {
    mode_t mode;
    bool trusted;
  };
  for (Row row :
       {Row{0700, true}, Row{0750, false}, Row{0705, false}, Row{0770, false}, Row{0777, false}}) {
    char trace[16];
    std::snprintf(trace, sizeof trace, "mode 0%o", static_cast<unsigned>(row.mode));
    SCOPED_TRACE(trace);
    TempDir dir;
    std::string path = FolderWithMode(dir, "run", row.mode) + "/Tarvex";
    PipeServer server;
    EXPECT_EQ(server.create(path), row.trusted) << "the server binding there";
    server.close();
    // A socket that someone else put there: the client does not even connect to it.
    BareListener listener(path);
    ASSERT_TRUE(listener.listening());
    std::string refusal = Refusal(path);
    EXPECT_EQ(refusal.empty(), row.trusted) << refusal;
    EXPECT_EQ(listener.clientCame(), row.trusted);
  }
}

TEST(NamedPipeTest, ClientRefusesAPipeItCannotTrust) {
  TempDir dir;
  // A symbolic link to a private folder of ours: someone else could have made the link.
  std::string real = FolderWithMode(dir, "real", 0700);
  ASSERT_EQ(::symlink(real.c_str(), dir.file("link").c_str()), 0);
  BareListener linked(real + "/Tarvex");
  EXPECT_NE(Refusal(dir.file("link/Tarvex")).find("symbolic link"), std::string::npos);
  EXPECT_FALSE(linked.clientCame());
  // Nothing at the path is no refusal, just no server.
  EXPECT_EQ(Refusal(dir.file("absent/Tarvex")), "<no reason>");

  if (::getuid() != 0) GTEST_SKIP() << "other users' folders and listeners need root";
  // A private folder of another user.
  std::string theirs = FolderWithMode(dir, "theirs", 0700);
  ASSERT_EQ(::chown(theirs.c_str(), kNobody, kNobody), 0);
  BareListener inTheirs(theirs + "/Tarvex");
  EXPECT_NE(Refusal(theirs + "/Tarvex").find("belongs to user 65534"), std::string::npos);
  EXPECT_FALSE(inTheirs.clientCame());
  // Our own private folder, but the process listening there runs as another user.
  std::string ours = FolderWithMode(dir, "ours", 0700);
  ListenerOfAnotherUser impostor(ours + "/Tarvex");
  ASSERT_TRUE(impostor.ok());
  EXPECT_NE(Refusal(ours + "/Tarvex").find("served by user 65534"), std::string::npos);
}

}  // namespace
