#include "server/ServerOptions.h"

#include <charconv>

namespace qserver {

const char* const kServerUsage =
    "usage: quellan-server adduser --data DIR NAME PASSWORD [--quota-gib N] [--writable NAME...]\n"
    "       quellan-server --data DIR [--listen 127.0.0.1] [--web-port 8168] [--stream-port 8169]\n"
    "                      [--stream-address HOST:PORT] [--public-url URL]\n"
    "                      [--max-connections-per-address N] [--request-deadline-ms N]\n"
    "                      [--release FILE --release-version TEXT] [--session-ttl SECONDS]\n"
    "                      [--fault-file FILE] [--fault-drop-after BYTES] [--fault-delay-ms N]\n"
    "                      [--fault-silent REQUEST] [--fault-error REQUEST=WORD]\n"
    "                      [--fault-web-error ACTION=TEXT]\n";

const char* const kServerHelp =
    "quellan-server: the reference storage service (web interface, stream server, downloads\n"
    "and updates), keeping each user's files in ordinary folders under --data.\n"
    "usage: quellan-server --data DIR [options]   serve\n"
    "       quellan-server adduser --data DIR NAME PASSWORD [--quota-gib N] [--writable NAME...]\n"
    "  --data DIR                 folder holding users, files and state (required)\n"
    "  --listen ADDRESS           address to listen on (127.0.0.1)\n"
    "  --web-port N               web interface port (8168; 0 picks a free one)\n"
    "  --stream-port N            stream server port (8169; 0 picks a free one)\n"
    "  --stream-address HOST:PORT name this stream address in read and write links (a relay)\n"
    "  --public-url URL           address of the web interface named in the update description\n"
    "                             (http://LISTEN:WEB-PORT)\n"
    "  --max-connections-per-address N  connections one client address may hold on each\n"
    "                             port (256)\n"
    "  --request-deadline-ms N    time a client has to send a whole request (5000)\n"
    "  --release FILE             update offered to clients, with --release-version TEXT\n"
    "  --session-ttl SECONDS      lifetime of a login session (86400)\n"
    "  --fault-file FILE          fault settings re-read on SIGHUP (DIR/.state/faults)\n"
    "  --fault-drop-after BYTES   close each stream connection after this many reply bytes\n"
    "  --fault-delay-ms N         delay every stream reply\n"
    "  --fault-silent REQUEST     never answer this stream request\n"
    "  --fault-error REQUEST=WORD answer this stream request with an error\n"
    "  --fault-web-error ACTION=TEXT  answer this web action with an error\n"
    "  --fault-web-delay ACTION=MS    delay the reply of this web action\n"
    "  --quota-gib N              adduser: the user's quota (10)\n"
    "  --writable NAME...         adduser: folders the user may write to\n"
    "  -h, --help                 print this help and exit\n";

namespace {

bool ParseInteger(const std::string& text, long long low, long long high, long long* value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && *value >= low &&
         *value <= high;
}

// "http://host[:port][/path]" without a trailing "/" and without characters that would
// break the line it goes into.
bool ParsePublicUrl(std::string text, std::string* url) {
  size_t scheme = text.rfind("http://", 0) == 0 ? 7 : text.rfind("https://", 0) == 0 ? 8 : 0;
  if (scheme == 0) return false;
  for (unsigned char c : text) {
    if (c <= ' ' || c == 0x7f) return false;
  }
  while (text.size() > scheme && text.back() == '/') text.pop_back();
  if (text.size() == scheme) return false;  // no host
  *url = text;
  return true;
}

}  // namespace

bool ParseServerOptions(int argc, char** argv, ServerOptions* options, std::string* error) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<std::string> positional;
  size_t i = 0;
  if (!args.empty() && args[0] == "adduser") {
    options->addUser = true;
    i = 1;
  }
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto next = [&](std::string* value) {
      if (i + 1 >= args.size()) return *error = "missing value after " + arg, false;
      *value = args[++i];
      return true;
    };
    auto number = [&](long long low, long long high, long long* value) {
      std::string text;
      if (!next(&text)) return false;
      if (!ParseInteger(text, low, high, value)) return *error = "bad number: " + text, false;
      return true;
    };
    long long value = 0;
    if (arg == "-h" || arg == "--help") {
      options->help = true;
      return true;
    }
    if (arg == "--data") {
      if (!next(&options->dataDir)) return false;
    } else if (arg == "--listen") {
      if (!next(&options->listen)) return false;
    } else if (arg == "--web-port") {
      if (!number(0, 65535, &value)) return false;
      options->webPort = static_cast<int>(value);
    } else if (arg == "--stream-port") {
      if (!number(0, 65535, &value)) return false;
      options->streamPort = static_cast<int>(value);
    } else if (arg == "--stream-address") {
      std::string text;
      if (!next(&text)) return false;
      size_t colon = text.rfind(':');
      long long port = 0;
      if (colon == std::string::npos || colon == 0 ||
          !ParseInteger(text.substr(colon + 1), 1, 65535, &port)) {
        return *error = "expected HOST:PORT: " + text, false;
      }
      options->streamAddressHost = text.substr(0, colon);
      options->streamAddressPort = static_cast<int>(port);
    } else if (arg == "--public-url") {
      std::string text;
      if (!next(&text)) return false;
      if (!ParsePublicUrl(text, &options->publicUrl)) {
        return *error = "expected http://HOST:PORT: " + text, false;
      }
    } else if (arg == "--max-connections-per-address") {
      if (!number(1, 1 << 20, &options->connectionsPerAddress)) return false;
    } else if (arg == "--request-deadline-ms") {
      if (!number(1, 3600 * 1000, &options->requestDeadlineMs)) return false;
    } else if (arg == "--release") {
      if (!next(&options->releaseFile)) return false;
    } else if (arg == "--release-version") {
      if (!next(&options->releaseVersion)) return false;
    } else if (arg == "--fault-file") {
      if (!next(&options->faultFile)) return false;
    } else if (arg == "--session-ttl") {
      if (!number(1, 1LL << 40, &options->sessionLifetime)) return false;
    } else if (arg == "--quota-gib") {
      if (!number(0, 1LL << 30, &options->quotaGiB)) return false;
    } else if (arg == "--writable") {
      // Every following argument that is not an option names a writable folder.
      while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
        options->writable.push_back(args[++i]);
      }
    } else if (FaultSettings::IsFaultOption(arg)) {
      std::string text;
      if (!next(&text) || !options->faults.apply(arg, text, error)) return false;
    } else if (arg.rfind("--", 0) == 0) {
      *error = "unknown option: " + arg;
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  if (options->dataDir.empty()) return *error = "--data DIR is required", false;
  if (options->addUser) {
    if (positional.size() != 2) return *error = "adduser needs NAME and PASSWORD", false;
    options->userName = positional[0];
    options->password = positional[1];
  } else if (!positional.empty()) {
    return *error = "unexpected argument: " + positional[0], false;
  }
  if (options->releaseFile.empty() != options->releaseVersion.empty()) {
    return *error = "--release and --release-version go together", false;
  }
  return true;
}

}  // namespace qserver
