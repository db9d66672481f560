// The command line of quellan-server.
#pragma once

#include <string>
#include <vector>

#include "server/faults/FaultSettings.h"

namespace qserver {

struct ServerOptions {
  bool help = false;  // -h or --help: print kServerHelp and do nothing else
  bool addUser = false;
  std::string dataDir;
  // serving
  std::string listen = "127.0.0.1";
  int webPort = 8168;
  int streamPort = 8169;
  // Named in read and write links instead of the stream server's own address when set.
  std::string streamAddressHost;
  int streamAddressPort = 0;
  // The address clients reach the web interface at ("http://host:port"), named in the
  // update description; empty: the address listened on.
  std::string publicUrl;
  // Connections each client address may hold open on each port.
  long long connectionsPerAddress = 256;
  // The time a client has to send a whole request (the first one, on a stream connection).
  long long requestDeadlineMs = 5000;
  std::string releaseFile;
  std::string releaseVersion;
  std::string faultFile;  // default DIR/.state/faults
  long long sessionLifetime = 86400;
  FaultSettings faults;
  // adduser
  std::string userName;
  std::string password;
  long long quotaGiB = 10;
  std::vector<std::string> writable;
};

// Parses argv; false with a message on a bad command line.
bool ParseServerOptions(int argc, char** argv, ServerOptions* options, std::string* error);

extern const char* const kServerUsage;
extern const char* const kServerHelp;

}  // namespace qserver
