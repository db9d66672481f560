// A stand-in for the drive program's end of the control pipe: serves the real pipe socket on
// its own thread and answers each request record through a script, remembering what came.
#pragma once

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe/PipeMessage.h"
#include "platform/pipe/PipeServer.h"
#include "platform/sync/Mutex.h"

class ScriptedDrivePipe {
 public:
  // The reply to a request, or no value for requests that get none.
  using Script = std::function<std::optional<PipeMessage>(const PipeMessage& request)>;
  struct Request {
    int32_t command;
    std::string text;  // whole body, zero byte included for two-part requests
  };

  ScriptedDrivePipe(const std::string& path, Script script) : script_(std::move(script)) {
    created_ = server_.create(path);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedDrivePipe() {
    server_.wake();
    thread_.join();
  }
  bool created() const { return created_; }

  std::vector<Request> requests() const EXCLUDES(lock_) {
    MutexLock hold(lock_);
    return requests_;
  }

  static PipeMessage Reply(const PipeMessage& request, const std::string& text) {
    PipeMessage reply = request;
    reply.setText(text);
    return reply;
  }
  static PipeMessage TwoPartReply(const PipeMessage& request, const std::string& first,
                                  const std::string& second) {
    PipeMessage reply = request;
    reply.setTwoParts(first, second);
    return reply;
  }

 private:
  void serve() {
    while (server_.connect()) {
      PipeMessage request;
      while (readWhole(request)) {
        {
          MutexLock hold(lock_);
          requests_.push_back({request.command, std::string(request.body())});
        }
        std::optional<PipeMessage> reply = script_(request);
        if (reply && !server_.write(&*reply, sizeof(*reply))) break;
      }
      server_.disconnect();
    }
  }
  bool readWhole(PipeMessage& record) {
    char* bytes = reinterpret_cast<char*>(&record);
    size_t have = 0;
    while (have < sizeof(record)) {
      long count = server_.read(bytes + have, sizeof(record) - have);
      if (count <= 0) return false;
      have += static_cast<size_t>(count);
    }
    return true;
  }

  Script script_;
  named_pipe::PipeServer server_;
  bool created_ = false;
  mutable Mutex lock_;
  std::vector<Request> requests_ GUARDED_BY(lock_);
  std::thread thread_;
};
