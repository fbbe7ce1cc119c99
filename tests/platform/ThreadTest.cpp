#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SyncPump.h"

namespace {

// A body scripted by the test; it records what it saw and reports its own release.
class TScriptedThread : public TThread {
public:
    explicit TScriptedThread(std::function<void(TScriptedThread&)> body, bool* released = nullptr)
        : FBody(std::move(body)), FReleased(released) {}
    ~TScriptedThread() override {
        if (FReleased)
            *FReleased = true;
    }
    bool Sync(const std::function<void()>& call) { return Synchronize(call); }
    std::atomic<bool> Started{false};

protected:
    void Execute() override {
        Started = true;
        FBody(*this);
    }

private:
    std::function<void(TScriptedThread&)> FBody;
    bool* FReleased;
};

TEST(Thread, RunsOnlyAfterResumeAndFreesItselfAfterTheEndNotification) {
    TSyncPump pump;
    std::vector<std::string> events; // written by the body, read here only after the end
    bool released = false;
    auto* thread = new TScriptedThread([&events](TScriptedThread&) { events.push_back("body"); }, &released);
    thread->FreeOnTerminate = true;
    int ends = 0;
    thread->OnTerminate = [&](TThread* sender) {
        EXPECT_EQ(sender, thread);
        events.push_back("end");
        ++ends;
    };
    EXPECT_FALSE(thread->Finished());
    EXPECT_FALSE(thread->WaitFor(0)) << "a suspended thread never ends";
    EXPECT_FALSE(thread->Started);

    thread->Resume();
    thread->Resume(); // a second start does nothing
    ASSERT_TRUE(pump.PumpUntil([&] { return released; }));
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(events, (std::vector<std::string>{"body", "end"}));
    EXPECT_FALSE(CheckSynchronize()) << "nothing may be left queued";
}

TEST(Thread, SynchronizeRunsOnThePumpingThreadAndWaitsForIt) {
    TSyncPump pump;
    const auto uiThread = std::this_thread::get_id();
    std::thread::id ranOn;
    int counter = 0;
    std::vector<int> seenByBody;
    std::string raised;
    TScriptedThread thread([&](TScriptedThread& self) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(self.Sync([&] {
                ranOn = std::this_thread::get_id();
                ++counter;
            }));
            seenByBody.push_back(counter); // the call has run before Synchronize returns
        }
        try {
            self.Sync([] { throw std::runtime_error("from the window"); });
        } catch (const std::exception& e) {
            raised = e.what();
        }
    });
    bool ended = false;
    thread.OnTerminate = [&](TThread*) { ended = true; };
    thread.Resume();
    ASSERT_TRUE(pump.PumpUntil([&] { return ended; }));
    EXPECT_EQ(ranOn, uiThread);
    EXPECT_EQ(seenByBody, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(raised, "from the window");
}

// A window that answers only after the body has gone to sleep: the outcome (the call's
// writes, its exception) must still reach the body.
TEST(Thread, SynchronizeAnsweredLateStillHandsBackTheOutcome) {
    std::vector<std::string> seen; // written by the calls, read by the body after each returns
    std::string raised;
    std::atomic<int> asked{0};
    std::atomic<int> round{1};
    int answered = 0;
    TScriptedThread thread([&](TScriptedThread& self) {
        ++asked;
        EXPECT_TRUE(self.Sync([&] {
            seen.push_back("late");
            ++answered;
        }));
        EXPECT_EQ(seen, std::vector<std::string>{"late"});
        while (round < 2)
            std::this_thread::yield();
        ++asked;
        try {
            self.Sync([&] {
                ++answered;
                throw std::runtime_error("late failure");
            });
        } catch (const std::exception& e) {
            raised = e.what();
        }
    });
    thread.Resume();
    for (int r = 1; r <= 2; ++r) {
        // Bounded by time, not by turns: a starved body may take long to queue its call.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (asked < r && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        while (answered < r && std::chrono::steady_clock::now() < deadline) {
            CheckSynchronize();
            std::this_thread::yield();
        }
        ASSERT_EQ(answered, r);
        round = r + 1;
    }
    ASSERT_TRUE(thread.WaitFor(10000));
    EXPECT_EQ(raised, "late failure");
    while (CheckSynchronize()) {
    }
}

TEST(Thread, SynchronizeOutsideTheBodyRunsAtOnce) {
    TScriptedThread thread([](TScriptedThread&) {});
    int ran = 0;
    EXPECT_TRUE(thread.Sync([&] { ++ran; }));
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(CheckSynchronize());
}

TEST(Thread, TerminateIsPolledAndEscapingExceptionsAreKept) {
    TSyncPump pump;
    TScriptedThread thread([](TScriptedThread& self) {
        while (!self.Terminated())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        throw std::runtime_error("after the stop");
    });
    bool ended = false;
    thread.OnTerminate = [&](TThread*) { ended = true; };
    thread.Resume();
    EXPECT_FALSE(thread.WaitFor(20));
    thread.Terminate();
    EXPECT_TRUE(thread.Terminated());
    EXPECT_TRUE(thread.WaitFor(-1));
    ASSERT_TRUE(pump.PumpUntil([&] { return ended; })) << "the end notification runs after a throw too";
    ASSERT_TRUE(thread.FatalException());
    EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::runtime_error);
}

// The stop of the window: the user-interface thread waits without pumping while the body wants
// it; the bounded wait gives up and the given-up body must go on without ever reaching it.
TEST(Thread, GivingUpReleasesABodyBlockedInSynchronizeAndDropsTheEnd) {
    TSyncPump pump;
    std::atomic<int> ran{0};
    std::atomic<bool> firstResult{true};
    std::atomic<bool> secondResult{true};
    bool released = false;
    auto* thread = new TScriptedThread(
        [&](TScriptedThread& self) {
            firstResult = self.Sync([&] { ++ran; });
            secondResult = self.Sync([&] { ++ran; });
        },
        &released);
    thread->FreeOnTerminate = true;
    int ends = 0;
    thread->OnTerminate = [&](TThread*) { ++ends; };
    thread->Resume();
    thread->Terminate();
    EXPECT_FALSE(thread->WaitFor(50)) << "the body is blocked in Synchronize";
    thread->GiveUp();
    EXPECT_TRUE(thread->GivenUp());
    EXPECT_TRUE(thread->WaitFor(10000)) << "giving up must release the waiting body";
    while (CheckSynchronize()) {
    }
    EXPECT_EQ(ran, 0);
    EXPECT_FALSE(firstResult);
    EXPECT_FALSE(secondResult);
    EXPECT_EQ(ends, 0);
    EXPECT_FALSE(released) << "a given-up thread belongs to whoever gave it up";
    delete thread;
    EXPECT_TRUE(released);
}

TEST(Thread, AnEndAlreadyQueuedIsDroppedByGivingUpOrByRelease) {
    TSyncPump pump;
    int ends = 0;
    {
        TScriptedThread thread([](TScriptedThread&) {});
        thread.OnTerminate = [&](TThread*) { ++ends; };
        thread.Resume();
        ASSERT_TRUE(thread.WaitFor(10000));
        thread.GiveUp();
        EXPECT_FALSE(CheckSynchronize());
    }
    {
        auto* thread = new TScriptedThread([](TScriptedThread&) {});
        thread->OnTerminate = [&](TThread*) { ++ends; };
        thread->Resume();
        ASSERT_TRUE(thread->WaitFor(10000));
        delete thread; // the queued end must not outlive the object
        EXPECT_FALSE(CheckSynchronize());
    }
    EXPECT_EQ(ends, 0);
}

TEST(Thread, ManyThreadsEachEndExactlyOnce) {
    TSyncPump pump;
    constexpr int kCount = 16;
    int ends = 0;
    int syncs = 0;
    for (int i = 0; i < kCount; ++i) {
        auto* thread = new TScriptedThread([&syncs](TScriptedThread& self) {
            for (int k = 0; k < 5; ++k)
                self.Sync([&syncs] { ++syncs; });
        });
        thread->FreeOnTerminate = true;
        thread->OnTerminate = [&ends](TThread*) { ++ends; };
        thread->Resume();
    }
    ASSERT_TRUE(pump.PumpUntil([&] { return ends == kCount; }));
    EXPECT_EQ(syncs, kCount * 5);
    EXPECT_FALSE(CheckSynchronize());
}

} // namespace
