#include "platform/WorkerKeeper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "SyncPump.h"

namespace {

// A body scripted by the test that counts its own release.
class TCountedWorker : public TThread {
public:
    TCountedWorker(std::function<void(TCountedWorker&)> body, std::atomic<int>& released)
        : FBody(std::move(body)), FReleased(released) {}
    ~TCountedWorker() override { ++FReleased; }
    bool Sync(const std::function<void()>& call) { return Synchronize(call); }

protected:
    void Execute() override { FBody(*this); }

private:
    std::function<void(TCountedWorker&)> FBody;
    std::atomic<int>& FReleased;
};

// Stands for a name lookup, which no stop can interrupt: the body waits until the test opens it.
void WaitForGate(const std::atomic<bool>& gate) {
    while (!gate)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(WorkerKeeper, AStoppedWorkerThatEndsWithinTheWaitIsReleasedWithoutItsEndNotification) {
    TSyncPump pump;
    std::atomic<int> released{0};
    bool notified = false;
    auto worker = std::make_unique<TCountedWorker>(
        [](TCountedWorker& self) {
            while (!self.Terminated())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        released);
    worker->FreeOnTerminate = true;
    worker->OnTerminate = [&notified](TThread*) { notified = true; };
    worker->Resume();
    worker->Terminate();
    TWorkerKeeper keeper;
    EXPECT_TRUE(keeper.Release(std::move(worker), 10000));
    EXPECT_EQ(released, 1);
    EXPECT_EQ(keeper.Count(), 0u);
    pump.PumpUntil([] { return false; }, 50);
    EXPECT_FALSE(notified) << "a stopped worker's end must not reach the window";

    // Never started, and nothing to stop: released at once.
    EXPECT_TRUE(keeper.Release(std::make_unique<TCountedWorker>([](TCountedWorker&) {}, released), 0));
    EXPECT_EQ(released, 2);
    EXPECT_TRUE(keeper.Release(nullptr, 0));
}

// The worker waits for the window to show something while the window, stopping it, waits for the
// worker: the give-up comes before the wait, so the worker goes on and ends within it.
TEST(WorkerKeeper, AWorkerWaitingForTheWindowEndsWithinTheStopsWait) {
    std::atomic<int> released{0};
    std::atomic<bool> waiting{false};
    bool ran = false;
    bool delivered = true;
    auto worker = std::make_unique<TCountedWorker>(
        [&](TCountedWorker& self) {
            waiting = true;
            delivered = self.Sync([&ran] { ran = true; });
        },
        released);
    worker->Resume();
    WaitForGate(waiting);
    TWorkerKeeper keeper;
    // No loop runs the queued call: only the give-up can let the body go on.
    EXPECT_TRUE(keeper.Release(std::move(worker), 10000));
    EXPECT_EQ(released, 1);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(delivered);
    EXPECT_FALSE(CheckSynchronize()) << "nothing of the given-up worker is left in the queue";
}

TEST(WorkerKeeper, AStuckWorkerIsKeptUntilItEndsAndReleasedThen) {
    std::atomic<int> released{0};
    std::atomic<bool> gate{false};
    TWorkerKeeper keeper;
    auto worker = std::make_unique<TCountedWorker>([&gate](TCountedWorker&) { WaitForGate(gate); }, released);
    worker->Resume();
    EXPECT_FALSE(keeper.Release(std::move(worker), 20));
    EXPECT_EQ(keeper.Count(), 1u);
    EXPECT_FALSE(keeper.WaitForAll(20));
    EXPECT_EQ(released, 0) << "released under its own running body";

    // A second one ends in time; the stuck one stays.
    EXPECT_TRUE(keeper.Release(std::make_unique<TCountedWorker>([](TCountedWorker&) {}, released), 10000));
    EXPECT_EQ(released, 1);
    EXPECT_EQ(keeper.Count(), 1u);

    gate = true;
    EXPECT_TRUE(keeper.WaitForAll(-1));
    EXPECT_EQ(released, 2);
    EXPECT_EQ(keeper.Count(), 0u);
}

// At the end of the program a worker may still be stuck: the keeper's end neither waits for it
// nor releases it under its body.
TEST(WorkerKeeper, AWorkerStillBusyWhenItsKeeperEndsIsNeitherWaitedForNorReleased) {
    std::atomic<int> released{0};
    std::atomic<bool> gate{false};
    std::atomic<bool> ended{false};
    TCountedWorker* left = nullptr;
    {
        TWorkerKeeper keeper;
        auto worker = std::make_unique<TCountedWorker>(
            [&](TCountedWorker&) {
                WaitForGate(gate);
                ended = true;
            },
            released);
        worker->Resume();
        left = worker.get();
        EXPECT_FALSE(keeper.Release(std::move(worker), 0));
    }
    EXPECT_FALSE(ended);
    EXPECT_EQ(released, 0);
    gate = true;
    WaitForGate(ended);
    EXPECT_TRUE(left->WaitFor(10000));
    EXPECT_EQ(released, 0);
    // What the program's end leaves to the system; the test releases it itself.
    delete left;
}

} // namespace
