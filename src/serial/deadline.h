// One deadline on the monotonic clock, shared by every blocking call of
// the serial backend: the read and write time-outs and the output drain.
#pragma once

#include <chrono>
#include <climits>
#include <cstdint>

class TDeadline {
public:
    using TClock = std::chrono::steady_clock;

    static TDeadline Never() { return TDeadline(); }
    // A time-out too long for the clock to represent is no limit at all:
    // adding it would overflow, and the deadline could land in the past.
    static TDeadline After(int64_t ms)
    {
        const TClock::time_point now = TClock::now();
        const int64_t headroom =
            std::chrono::duration_cast<std::chrono::milliseconds>(TClock::time_point::max() - now).count();
        if (ms >= headroom) return Never();
        return TDeadline(now + std::chrono::milliseconds(ms < 0 ? 0 : ms));
    }
    static TDeadline Now() { return TDeadline(TClock::now()); }
    // A transfer's total time-out as the driver's rules have it: multiplier
    // ms per byte plus the constant, both unsigned; both zero means no
    // limit, and so does a total too long to count in milliseconds.
    static TDeadline Total(int32_t multiplier, int32_t constant, int32_t count)
    {
        if (multiplier == 0 && constant == 0) return Never();
        int64_t ms = 0;
        if (__builtin_mul_overflow(int64_t(uint32_t(multiplier)), int64_t(count), &ms) ||
            __builtin_add_overflow(ms, int64_t(uint32_t(constant)), &ms))
            return Never();
        return After(ms);
    }
    // Whichever of the two ends first.
    static TDeadline Earlier(const TDeadline& a, const TDeadline& b)
    {
        if (a.FInfinite) return b;
        if (b.FInfinite) return a;
        return a.FAt <= b.FAt ? a : b;
    }

    bool Infinite() const { return FInfinite; }
    bool Passed() const { return !FInfinite && TClock::now() >= FAt; }
    // Milliseconds to hand to poll(): -1 for no limit, rounded up so that a
    // wait never ends before the deadline, and no more than `cap` when cap >= 0.
    int PollTimeout(int cap = -1) const
    {
        int64_t ms = -1;
        if (!FInfinite) {
            const auto left = FAt - TClock::now();
            ms = left <= TClock::duration::zero() ? 0 : std::chrono::ceil<std::chrono::milliseconds>(left).count();
            if (ms > INT_MAX) ms = INT_MAX;
        }
        if (cap >= 0 && (ms < 0 || ms > cap)) ms = cap;
        return static_cast<int>(ms);
    }

private:
    TDeadline() : FInfinite(true) {}
    explicit TDeadline(TClock::time_point at) : FInfinite(false), FAt(at) {}
    bool FInfinite;
    TClock::time_point FAt{};
};
