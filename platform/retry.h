// Waiting out a file that another program holds for a moment: on Windows an
// antivirus scanner, the search indexer or a sync client often opens a file
// just written, and for a few milliseconds it cannot be opened, replaced or
// deleted. The policy is plain logic over an injected clock, so that it holds
// no state of its own and runs on any thread.
#pragma once

#include <algorithm>
#include <chrono>

namespace dsu::platform {

// What one try of an operation came to.
enum class TryOutcome { Done, Held, Failed };

// How long a held file is waited for, in all, before the operation fails.
inline constexpr std::chrono::milliseconds kHeldFileLimit{2000};

// The wait before retry number `retry` (from 0): short at first, where most
// holds end, then longer, so that a long hold costs few tries.
std::chrono::milliseconds HeldFileDelay(int retry);

// Time as the retries see it: the system's, or a test's.
class RetryClock {
  public:
    virtual ~RetryClock() = default;
    virtual std::chrono::milliseconds Now() const = 0;
    virtual void Wait(std::chrono::milliseconds delay) const = 0;
};

// The steady clock, waiting by sleeping.
const RetryClock& SystemRetryClock();

// Tries `attempt` at once, and again after growing delays while it reports
// Held, until kHeldFileLimit has passed; the last try's outcome. A first try
// that is not Held costs nothing more.
template <class Attempt>
TryOutcome RetryWhileHeld(const RetryClock& clock, Attempt&& attempt) {
    TryOutcome outcome = attempt();
    if (outcome != TryOutcome::Held) return outcome;
    const std::chrono::milliseconds start = clock.Now();
    for (int retry = 0;; ++retry) {
        const std::chrono::milliseconds left = kHeldFileLimit - (clock.Now() - start);
        if (left <= std::chrono::milliseconds::zero()) return outcome;
        clock.Wait(std::min(HeldFileDelay(retry), left));
        outcome = attempt();
        if (outcome != TryOutcome::Held) return outcome;
    }
}

}  // namespace dsu::platform
