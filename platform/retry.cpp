#include "platform/retry.h"

#include <array>
#include <thread>

namespace dsu::platform {

using std::chrono::milliseconds;

milliseconds HeldFileDelay(int retry) {
    // A scan on close mostly ends within tens of milliseconds; an upload or
    // a slow scan takes longer, and is then polled four times a second.
    static constexpr std::array<milliseconds, 8> kDelays{
        milliseconds{1},  milliseconds{5},  milliseconds{10},  milliseconds{20},
        milliseconds{40}, milliseconds{80}, milliseconds{160}, milliseconds{250}};
    return kDelays[static_cast<std::size_t>(std::clamp(retry, 0, int(kDelays.size()) - 1))];
}

namespace {

class SteadyClock final : public RetryClock {
  public:
    milliseconds Now() const override {
        return std::chrono::duration_cast<milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
    void Wait(milliseconds delay) const override { std::this_thread::sleep_for(delay); }
};

}  // namespace

const RetryClock& SystemRetryClock() {
    static const SteadyClock clock;
    return clock;
}

}  // namespace dsu::platform
