#include "platform/retry.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/fake_clock.h"

namespace dsu::platform {
namespace {

using std::chrono::milliseconds;
using testing::FakeClock;
using Delays = std::vector<long long>;

TEST(RetryWhileHeld, RetriesOnlyHeldTriesWithGrowingDelaysUpToTheLimit) {
    using enum TryOutcome;
    struct Case {
        const char* name;
        std::vector<TryOutcome> script;  // the last one repeats
        long long tryMs;                 // how long each try takes
        TryOutcome result;
        Delays waits;
    };
    const Case cases[] = {
        {"done at once", {Done}, 0, Done, {}},
        {"failed at once", {Failed}, 0, Failed, {}},
        {"held, then done", {Held, Held, Done}, 0, Done, {1, 5}},
        {"held, then failed", {Held, Failed}, 0, Failed, {1}},
        {"held to the end",
         {Held},
         0,
         Held,
         {1, 5, 10, 20, 40, 80, 160, 250, 250, 250, 250, 250, 250, 184}},
        {"slow tries count toward the limit", {Held}, 300, Held, {1, 5, 10, 20, 40, 80, 44}},
        {"done on the last try",
         {Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Held, Done},
         0,
         Done,
         {1, 5, 10, 20, 40, 80, 160, 250, 250, 250, 250, 250, 250, 184}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        std::size_t tries = 0;
        const TryOutcome result = RetryWhileHeld(clock, [&] {
            clock.now += milliseconds{c.tryMs};
            return c.script[std::min(tries++, c.script.size() - 1)];
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(clock.waits, c.waits);
        EXPECT_EQ(tries, c.waits.size() + 1);
    }
}

}  // namespace
}  // namespace dsu::platform
