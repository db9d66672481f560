// A Qt application for tests of objects that need an event loop, and running that loop until
// a condition holds.
#pragma once

#include <QCoreApplication>
#include <chrono>

inline void EnsureQtApplication() {
  static int argc = 1;
  static char name[] = "transfers_test";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

// Processes events until `condition` holds; false when `limit` passed first.
template <typename Condition>
bool PumpUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}
