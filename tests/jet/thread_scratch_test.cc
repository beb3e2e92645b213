// Per-thread scratch objects: one per thread, kept from call to call, and deleted
// intact when the thread ends (under Wine as well as on Linux).
#include "jet/base/thread_scratch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<int> made{0}, deleted_intact{0}, deleted_damaged{0};

// A buffer on the heap, as the real scratch objects hold, which its destructor
// checks before it lets go of it.
struct Counted {
  Counted() : text(64, 'x') { ++made; }
  ~Counted() { (text == std::string(64, 'x') ? deleted_intact : deleted_damaged)++; }
  std::string text;
};

Counted* TakeScratch() {
  thread_local Counted* slot = nullptr;
  return &jet::ThreadScratch(&slot);
}

TEST(ThreadScratch, EachThreadKeepsOneObjectAndItIsDeletedWhenTheThreadEnds) {
  constexpr int kThreads = 8;
  std::atomic<int> kept{0};
  for (int round = 0; round < 4; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&] {
        Counted* first = TakeScratch();
        std::vector<std::string> churn(100, std::string(64, 'y'));  // heap traffic that would reuse freed storage
        if (TakeScratch() == first) ++kept;
      });
    for (std::thread& t : threads) t.join();
  }
  EXPECT_EQ(kept.load(), 4 * kThreads);
  EXPECT_EQ(made.load(), 4 * kThreads);
  EXPECT_EQ(deleted_intact.load(), 4 * kThreads);
  EXPECT_EQ(deleted_damaged.load(), 0);
}

}  // namespace
