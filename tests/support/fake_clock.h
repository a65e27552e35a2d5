// A clock for the file retries that never sleeps: time passes only when the
// policy waits (or a test moves it), and every wait is recorded.
#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "platform/retry.h"

namespace dsu::testing {

class FakeClock final : public platform::RetryClock {
  public:
    std::chrono::milliseconds Now() const override { return now; }
    void Wait(std::chrono::milliseconds delay) const override {
        waits.push_back(delay.count());
        now += delay;
        if (onWait) onWait();
    }

    mutable std::chrono::milliseconds now{1'000'000};
    mutable std::vector<long long> waits;
    // Runs after each wait, as another program letting go would.
    std::function<void()> onWait;
};

}  // namespace dsu::testing
