// quellan-relay: the link emulator as a program.
//   quellan-relay --listen PORT --target HOST:PORT [--delay-ms N] [--mbit N] [--drop-after BYTES]
// Runs until SIGINT or SIGTERM; prints "relay listening PORT" once it listens.
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/linkrelay/LinkRelay.h"

int main(int argc, char** argv) {
  int listenPort = 0;
  std::string target;
  LinkSettings settings;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    std::string value = argv[i + 1];
    if (option == "--listen") {
      listenPort = std::atoi(value.c_str());
    } else if (option == "--target") {
      target = value;
    } else if (option == "--delay-ms") {
      settings.delayMs = std::atoi(value.c_str());
    } else if (option == "--mbit") {
      settings.bytesPerSecond = std::atoll(value.c_str()) * 1000000 / 8;
    } else if (option == "--drop-after") {
      settings.dropAfterBytes = std::atoll(value.c_str());
    } else {
      std::cerr << "quellan-relay: unknown option " << option << "\n";
      return 2;
    }
  }
  size_t colon = target.rfind(':');
  if (colon == std::string::npos) {
    std::cerr << "usage: quellan-relay --listen PORT --target HOST:PORT [--delay-ms N] [--mbit N]"
                 " [--drop-after BYTES]\n";
    return 2;
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  LinkRelay relay(target.substr(0, colon), std::atoi(target.c_str() + colon + 1), settings);
  if (!relay.start(listenPort)) {
    std::cerr << "quellan-relay: cannot listen on " << listenPort << "\n";
    return 1;
  }
  std::cout << "relay listening " << relay.port() << std::endl;
  int signal = 0;
  sigwait(&signals, &signal);
  relay.stop();
  return 0;
}
