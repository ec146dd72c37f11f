#include "util/RunParts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

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

}  // namespace
}  // namespace quelmar
