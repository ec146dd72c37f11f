#include "util/RunParts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quelmar {
namespace {

// Parts meeting round after round: none goes on before every part has arrived, and none is left
// waiting (a lost wake-up would hang the test).
TEST(RunParts, PartsMeetRoundAfterRoundAndAPartThatFailsLeavesTheOthersGoingOn) {
  constexpr int32_t kParts = 4, kRounds = 3000;
  std::atomic<int32_t> arrived{0};
  std::atomic<int32_t> early{0};
  PartsMeeting meeting(kParts);
  RunParts(kParts, [&](int32_t) {
    for (int32_t round = 0; round < kRounds; ++round) {
      arrived.fetch_add(1);
      meeting.ArriveAndWait();
      if (arrived.load() < kParts * (round + 1)) early.fetch_add(1);
      meeting.ArriveAndWait();  // nobody counts the next round before all have looked
    }
  });
  EXPECT_EQ(arrived.load(), kParts * kRounds);
  EXPECT_EQ(early.load(), 0);

  // One part fails on its way and leaves; the others still meet, and the failure comes back.
  PartsMeeting rest(3);
  std::atomic<int32_t> met{0};
  EXPECT_THROW(RunParts(3,
                        [&](int32_t k) {
                          for (int32_t round = 0; round < 200; ++round) {
                            if (k == 2 && round == 50) {
                              rest.ArriveAndLeave();
                              throw std::runtime_error("part 2 failed");
                            }
                            rest.ArriveAndWait();
                            met.fetch_add(1);
                          }
                        }),
               std::runtime_error);
  EXPECT_EQ(met.load(), 2 * 200 + 50);
}

// A crew runs every part of every run, each once, on threads it keeps from one run to the next
// (more parts start more of them; fewer leave the others idle); a failure comes back once all
// parts have ended, and the crew runs on after it.
TEST(RunParts, ACrewRunsEveryPartOnThreadsItKeeps) {
  PartsCrew crew;
  std::set<std::thread::id> threads;
  std::mutex lock;
  for (const int32_t parts : {2, 1, 3, 2, 3, 1, 3}) {
    std::vector<std::atomic<int32_t>> ran(static_cast<size_t>(parts));
    crew.Run(parts, [&](int32_t k) {
      ran[static_cast<size_t>(k)].fetch_add(1);
      std::lock_guard<std::mutex> hold(lock);
      threads.insert(std::this_thread::get_id());
    });
    for (const auto& n : ran) EXPECT_EQ(n.load(), 1) << parts;
  }
  EXPECT_EQ(threads.size(), 3u);  // this one and two helpers, whatever the runs

  std::atomic<int32_t> done{0};
  EXPECT_THROW(crew.Run(3,
                        [&](int32_t k) {
                          if (k == 1) throw std::runtime_error("part 1 failed");
                          done.fetch_add(1);
                        }),
               std::runtime_error);
  EXPECT_EQ(done.load(), 2);
  for (int32_t round = 0; round < 2000; ++round) {
    crew.Run(2, [&](int32_t) { done.fetch_add(1); });
  }
  EXPECT_EQ(done.load(), 2 + 2 * 2000);
}

// A crew started with a helper runs on it from the first run; runs that come after a pause
// longer than the helper looks out for (it sleeps meanwhile) wake it, as do parts that meet after
// such a pause.
TEST(RunParts, ACrewsHelperStartedAtOnceWakesForRunsAfterAPause) {
  PartsCrew crew(1);
  std::set<std::thread::id> threads;
  std::mutex lock;
  std::atomic<int32_t> done{0};
  for (int32_t round = 0; round < 6; ++round) {
    if (round % 2 == 1) std::this_thread::sleep_for(kLookOut * 3);
    PartsMeeting meeting(2);
    crew.Run(2, [&](int32_t k) {
      if (k == round % 2) std::this_thread::sleep_for(kLookOut * 3);
      meeting.ArriveAndWait();
      done.fetch_add(1);
      std::lock_guard<std::mutex> hold(lock);
      threads.insert(std::this_thread::get_id());
    });
  }
  EXPECT_EQ(done.load(), 12);
  EXPECT_EQ(threads.size(), 2u);
}

// The program's crew goes to one piece of work at a time, with its helpers kept from one to the
// next; a piece of work that comes while another has it gets a crew of its own.
TEST(RunParts, TheProgramsCrewKeepsItsHelpersAndIsLentToOneAtATime) {
  std::set<std::thread::id> helpers;
  std::mutex lock;
  const auto runOn = [&](KeptPartsCrew& crew, std::set<std::thread::id>& seen) {
    std::atomic<int32_t> done{0};
    crew->Run(2, [&](int32_t k) {
      done.fetch_add(1);
      if (k == 0) return;
      std::lock_guard<std::mutex> hold(lock);
      seen.insert(std::this_thread::get_id());
    });
    EXPECT_EQ(done.load(), 2);
  };
  for (int32_t round = 0; round < 3; ++round) {
    KeptPartsCrew crew(1);
    runOn(crew, helpers);
    if (round == 1) std::this_thread::sleep_for(kLookOut * 3);  // its helper asleep meanwhile
  }
  EXPECT_EQ(helpers.size(), 1u);

  KeptPartsCrew first(1);
  std::set<std::thread::id> own;
  {
    KeptPartsCrew second(1);
    EXPECT_NE(&*first, &*second);
    runOn(second, own);
  }
  runOn(first, helpers);
  EXPECT_EQ(helpers.size(), 1u);
  ASSERT_EQ(own.size(), 1u);
  EXPECT_EQ(helpers.count(*own.begin()), 0u);
}

}  // namespace
}  // namespace quelmar
