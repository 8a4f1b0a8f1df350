// Polls a condition in real time: for tests that must see another thread
// reach a state (blocked in a wait, finished) before acting.
#pragma once

#include <chrono>
#include <thread>

template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
