// quellan-server: the reference storage service (web interface, stream server,
// downloads and updates) backed by ordinary folders.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "server/ServerOptions.h"
#include "server/faults/FaultControl.h"
#include "server/state/Storage.h"
#include "server/stream/StreamServer.h"
#include "server/util/Digest.h"
#include "server/util/FileLimit.h"
#include "server/util/Log.h"
#include "server/web/WebServer.h"

namespace {

using namespace qserver;

int AddUser(const ServerOptions& options) {
  std::string error;
  if (!Storage::AddUser(options.dataDir, options.userName, options.password, options.quotaGiB,
                        options.writable, &error)) {
    std::cerr << "quellan-server adduser: " << error << "\n";
    return 1;
  }
  std::cout << "user " << options.userName << " ready in " << options.dataDir << "/"
            << options.userName << "\n";
  return 0;
}

bool LoadRelease(const ServerOptions& options, ReleaseInfo* release) {
  if (options.releaseFile.empty()) return true;
  release->file = options.releaseFile;
  release->version = options.releaseVersion;
  release->md5 = Md5FileHex(options.releaseFile);
  FILE* file = std::fopen(options.releaseFile.c_str(), "rb");
  if (!file || release->md5.empty()) {
    if (file) std::fclose(file);
    return false;
  }
  std::fseek(file, 0, SEEK_END);
  release->length = std::ftell(file);
  std::fclose(file);
  return true;
}

// Each connection holds a socket and at times an open file. The stream port gets three
// quarters of the descriptors beyond a reserve for state files and the log, the web port the
// rest; each is also capped so that its threads stay few enough to start.
void ShareDescriptors(long descriptors, ConnectionLimits* stream, ConnectionLimits* web) {
  constexpr long kReserve = 128;
  long budget = std::max(64L, descriptors - kReserve);
  stream->total = static_cast<size_t>(std::min(4096L, budget * 3 / 8));
  web->total = static_cast<size_t>(std::min(1024L, budget / 8));
}

int Serve(const ServerOptions& options) {
  // Signals are taken by sigwait below; every thread started from here inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  Storage storage(options.dataDir, options.sessionLifetime);
  std::string error;
  if (!storage.open(&error)) {
    std::cerr << "quellan-server: " << error << "\n";
    return 1;
  }
  storage.discardUnfinishedUploads();
  ReleaseInfo release;
  if (!LoadRelease(options, &release)) {
    std::cerr << "quellan-server: cannot read " << options.releaseFile << "\n";
    return 1;
  }
  FaultControl faults(options.faults, options.faultFile.empty() ? options.dataDir + "/.state/faults"
                                                                : options.faultFile);
  long descriptors = RaiseFileLimit();
  ConnectionLimits streamLimits, webLimits;
  streamLimits.perAddress = webLimits.perAddress =
      static_cast<size_t>(options.connectionsPerAddress);
  ShareDescriptors(descriptors, &streamLimits, &webLimits);
  LogLine("file descriptor limit " + std::to_string(descriptors) + ": at most " +
          std::to_string(streamLimits.total) + " stream and " + std::to_string(webLimits.total) +
          " web connections, " + std::to_string(options.connectionsPerAddress) +
          " per address on each");
  std::chrono::milliseconds requestDeadline(options.requestDeadlineMs);

  StreamServer stream(storage, faults, streamLimits, requestDeadline);
  if (!stream.start(options.listen, options.streamPort, &error)) {
    std::cerr << "quellan-server: " << error << "\n";
    return 1;
  }
  WebServer web(storage, faults, stream.port(), release, webLimits, requestDeadline);
  if (!options.streamAddressHost.empty()) {
    web.announceStreamAddress(options.streamAddressHost, options.streamAddressPort);
  }
  if (!options.publicUrl.empty()) web.announcePublicUrl(options.publicUrl);
  if (!web.start(options.listen, options.webPort, &error)) {
    std::cerr << "quellan-server: " << error << "\n";
    stream.stop();
    return 1;
  }
  std::cout << "quellan-server listening web=" << options.listen << ":" << web.port()
            << " stream=" << options.listen << ":" << stream.port() << std::endl;
  LogLine("data folder " + options.dataDir + ", fault file " + faults.controlFile());

  while (true) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGHUP) {
      faults.forceReload();
      continue;
    }
    break;
  }
  LogLine("stopping");
  web.stop();
  stream.stop();
  LogLine("stopped");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qserver::ServerOptions options;
  std::string error;
  if (!qserver::ParseServerOptions(argc, argv, &options, &error)) {
    std::cerr << "quellan-server: " << error << "\n" << qserver::kServerUsage;
    return 2;
  }
  if (options.help) {
    std::cout << qserver::kServerHelp;
    return 0;
  }
  return options.addUser ? AddUser(options) : Serve(options);
}
