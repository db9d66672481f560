// A person on the test desktop: a normal (non-root) account with a home and a runtime folder of
// its own, which starts the real quellanview with the page probe preloaded and talks to it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "SpawnedProcess.h"

// Talks to the page probe of one quellanview (see PageProbe.cpp).
class ProbeClient {
 public:
  explicit ProbeClient(std::string socketPath) : path_(std::move(socketPath)) {}
  ~ProbeClient();
  // The answer to `request`, or "" when the probe did not answer within `limit`.
  std::string ask(const std::string& request,
                  std::chrono::milliseconds limit = std::chrono::seconds(10));
  std::string eval(const std::string& script) { return ask("eval\n" + script); }
  bool isTrue(const std::string& script) { return eval(script) == "true"; }
  // Lets the page run until the script's condition holds.
  bool waitFor(const std::string& condition, std::chrono::milliseconds limit);

 private:
  bool connect();

  std::string path_;
  int fd_ = -1;
};

class DesktopUser {
 public:
  // Makes the account `name` when it is missing (the test runs as root), or takes the test's own
  // account when the test does not run as root. Its folders live under `top`.
  DesktopUser(const std::string& name, const std::string& top);
  ~DesktopUser();

  // Why this account cannot be used, or "".
  const std::string& problem() const { return problem_; }
  const std::string& home() const { return home_; }
  const std::string& runtimeFolder() const { return runtime_; }
  std::string programFolder() const { return home_ + "/program"; }
  uid_t uid() const { return account_.uid; }
  // Makes `path` (a file or folder below the home) the user's.
  void own(const std::string& path) const;

  struct Run {
    SpawnedProcess process;
    std::unique_ptr<ProbeClient> probe;
  };
  // Starts quellanview on `display` with the program folder, its page probe and these
  // variables added.
  Run startQuellanview(const std::string& display, const Environment& extra = {});
  // Ends every process of this user that the test started (quellanview and the drive programs
  // it started, even outside its process group) and takes away mounts below the home.
  void endEverything();

 private:
  std::string name_;
  std::string home_;
  std::string runtime_;
  std::string problem_;
  Account account_;
  int runs_ = 0;
};
