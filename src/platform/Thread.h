#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

// Wakes the user-interface thread so that it soon calls CheckSynchronize(). Called from any
// thread while the queue's lock is held: it must only post (never block, never call back).
class IThreadDispatcher {
public:
    virtual ~IThreadDispatcher() = default;
    virtual void Wake() = 0;
};

// Installs the dispatcher told about every queued call; nullptr: nobody is told, queued calls
// wait for the next CheckSynchronize() all the same.
void SetThreadDispatcher(IThreadDispatcher* dispatcher);

// Runs, on the calling (user-interface) thread, every queued Synchronize call and end
// notification in the order they were queued, including those queued meanwhile; false when
// there was nothing to run. An exception from an end notification propagates after the thread
// object has been released as FreeOnTerminate asks.
bool CheckSynchronize();

// A worker thread with its body in Execute. Created suspended; the user-interface thread
// starts it with Resume, asks it to stop with Terminate, waits for it with WaitFor and is told of
// its end through OnTerminate, run by CheckSynchronize after Execute has returned.
class TThread {
public:
    // Suspended: no system thread exists until Resume.
    TThread();
    // Waits for a started body to end (join), then drops a pending end notification. Release a
    // thread only once Execute has returned (Finished, WaitFor): the derived parts are gone
    // before this runs, and a body blocked in Synchronize would never end.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts Execute on a new thread; calls after the first do nothing.
    void Resume();
    // Sets the termination request that Execute polls; it never interrupts anything by itself.
    void Terminate() { FTerminated = true; }
    // Whether Terminate has been called.
    bool Terminated() const { return FTerminated; }
    // Whether Resume has been called (user-interface thread).
    bool Resumed() const { return FThread.joinable(); }
    // Whether Execute has returned (or thrown); false before Resume.
    bool Finished() const;
    // Waits until Execute has returned, at most ms milliseconds (a negative ms: no bound);
    // true when it has. Never pumps the queue, so a body blocked in Synchronize cannot end
    // within the wait unless the thread is given up. Not callable from the body itself; false at
    // once for a thread never resumed.
    bool WaitFor(int ms);
    // Gives the thread up (user-interface thread only): its queued and future Synchronize calls
    // are dropped (a body waiting in one goes on at once), its end notification never runs and
    // FreeOnTerminate no longer applies: the caller owns the object and releases it once the
    // body has ended. Repeated calls do nothing more.
    void GiveUp();
    // Whether GiveUp has been called.
    bool GivenUp() const;
    // The exception that escaped Execute, if any; read it after the end.
    std::exception_ptr FatalException() const { return FFatalException; }

    // Release the object after its end notification has run (set before Resume).
    bool FreeOnTerminate = false;
    // The end notification with the thread as Sender, run on the user-interface thread by
    // CheckSynchronize after Execute has returned; not run for a thread given up before that.
    std::function<void(TThread* sender)> OnTerminate;

protected:
    // The thread body.
    virtual void Execute() = 0;
    // Runs call on the user-interface thread (through CheckSynchronize) and waits until it has
    // run there; an exception it raises is raised here. False, without running it, when the
    // thread is (or while waiting becomes) given up. Called from any other thread than the body's
    // (methods of a thread object used directly), it runs call at once.
    bool Synchronize(const std::function<void()>& call);

private:
    friend bool CheckSynchronize();
    void Run();

    std::thread FThread;
    std::atomic<std::thread::id> FBodyThread{};
    std::atomic<bool> FTerminated{false};
    // Guarded by the queue's lock.
    bool FFinished = false;
    bool FGivenUp = false;
    std::exception_ptr FFatalException;
};
