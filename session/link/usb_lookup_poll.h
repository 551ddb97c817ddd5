// The rhythm of every USB lookup: one look every 100 ms while the budget lasts (it shrinks by
// 100 after each miss); a budget of 0 looks until a handheld comes or the lookup is
// interrupted, a budget of 1 is one look without waiting.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace ports {

inline constexpr int kUsbLookupIntervalMs = 100;

// 1 when lookOnce() found the handheld, else 0.
template <class LookOnce>
int PollForHandheld(int budgetMs, std::atomic<bool>& interrupted, LookOnce lookOnce) {
    int budget = budgetMs;
    for (;;) {
        if (lookOnce()) return 1;
        if (budget > 0) {
            budget -= kUsbLookupIntervalMs;
            if (budget <= 0) return 0;
        }
        if (interrupted.exchange(false)) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(kUsbLookupIntervalMs));
    }
}

}  // namespace ports
