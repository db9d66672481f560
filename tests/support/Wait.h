// Waiting for a condition in tests: polls it until it holds or the deadline passes, so that a
// test never sleeps a fixed time to let something happen.
#pragma once

#include <chrono>
#include <thread>

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
