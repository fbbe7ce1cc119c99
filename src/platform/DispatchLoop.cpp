#include "platform/DispatchLoop.h"

#include <chrono>

TDispatchLoop::TDispatchLoop() {
    SetThreadDispatcher(this);
}

TDispatchLoop::~TDispatchLoop() {
    SetThreadDispatcher(nullptr);
}

void TDispatchLoop::Wake() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FPending = true;
    }
    // Told after the lock is let go, the woken loop does not run straight into it.
    FWoken.notify_all();
}

bool TDispatchLoop::RunUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        CheckSynchronize();
        if (done())
            return true;
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline)
            return false;
        // The short bound also catches conditions that change without anything being queued.
        std::unique_lock<std::mutex> lock(FLock);
        FWoken.wait_for(lock, std::chrono::milliseconds(10), [this] { return FPending; });
        FPending = false;
    }
}
