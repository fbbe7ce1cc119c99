#include "SyncPump.h"

#include <chrono>

TSyncPump::TSyncPump() {
    SetThreadDispatcher(this);
}

TSyncPump::~TSyncPump() {
    SetThreadDispatcher(nullptr);
}

void TSyncPump::Wake() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FPending = true;
    }
    // Told after the lock is let go, the woken loop does not run straight into it.
    FWoken.notify_all();
}

bool TSyncPump::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        CheckSynchronize();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // The short bound also catches conditions that change without anything being queued.
        std::unique_lock<std::mutex> lock(FLock);
        FWoken.wait_for(lock, std::chrono::milliseconds(10), [this] { return FPending; });
        FPending = false;
    }
}
