#include "platform/Thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace {

// A Synchronize call waiting in its body's frame until the user-interface thread has run it.
// Written under the queue's lock.
struct TSyncCall {
    const std::function<void()>* Call = nullptr;
    bool Done = false;
    bool Dropped = false;
    std::exception_ptr Error;
};

// One queued piece of work for the user-interface thread: a Synchronize call, or (Sync null) the
// end notification of Thread.
struct TQueued {
    TThread* Thread = nullptr;
    TSyncCall* Sync = nullptr;
};

// The one queue towards the user-interface thread. Its lock also guards the end state of every
// thread, so that finishing, queueing the end and giving up never interleave.
struct TSyncQueue {
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TQueued> Entries;
    IThreadDispatcher* Dispatcher = nullptr;

    void Push(const TQueued& entry) {
        Entries.push_back(entry);
        if (Dispatcher)
            Dispatcher->Wake();
    }
};

// Never released: a worker given up at the end of the program may still reach it on its way
// out after the statics are gone.
TSyncQueue& Queue() {
    static auto* queue = new TSyncQueue();
    return *queue;
}

// Removes every queued entry of thread; waiting Synchronize calls are released as dropped.
void DropEntriesOf(TSyncQueue& queue, TThread* thread) {
    for (auto it = queue.Entries.begin(); it != queue.Entries.end();) {
        if (it->Thread != thread) {
            ++it;
            continue;
        }
        if (it->Sync)
            it->Sync->Dropped = true;
        it = queue.Entries.erase(it);
    }
    queue.Changed.notify_all();
}

} // namespace

void SetThreadDispatcher(IThreadDispatcher* dispatcher) {
    std::lock_guard<std::mutex> lock(Queue().Lock);
    Queue().Dispatcher = dispatcher;
}

bool CheckSynchronize() {
    TSyncQueue& queue = Queue();
    bool ranAny = false;
    for (;;) {
        TQueued entry;
        {
            std::lock_guard<std::mutex> lock(queue.Lock);
            if (queue.Entries.empty())
                return ranAny;
            entry = queue.Entries.front();
            queue.Entries.pop_front();
        }
        ranAny = true;
        if (entry.Sync) {
            std::exception_ptr error;
            try {
                (*entry.Sync->Call)();
            } catch (...) {
                error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(queue.Lock);
                entry.Sync->Error = std::move(error); // the body alone holds it afterwards
                entry.Sync->Done = true;
            }
            // After the lock: a woken body does not run straight into it.
            queue.Changed.notify_all();
            continue;
        }
        // The end notification; the object is released even when the handler raises, unless the
        // handler gave it up (its new owner releases it then).
        TThread* thread = entry.Thread;
        struct TRelease {
            TThread* Thread;
            ~TRelease() {
                if (Thread->FreeOnTerminate && !Thread->GivenUp())
                    delete Thread;
            }
        } release{thread};
        if (thread->OnTerminate)
            thread->OnTerminate(thread);
    }
}

TThread::TThread() = default;

TThread::~TThread() {
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id())
            FThread.detach();
        else
            FThread.join();
    }
    std::lock_guard<std::mutex> lock(Queue().Lock);
    DropEntriesOf(Queue(), this);
}

void TThread::Resume() {
    if (FThread.joinable())
        return;
    FThread = std::thread([this] { Run(); });
}

void TThread::Run() {
    FBodyThread = std::this_thread::get_id();
    try {
        Execute();
    } catch (...) {
        FFatalException = std::current_exception();
    }
    // Nothing of this object is touched after the lock is released: the user-interface thread may
    // release it as soon as the end is queued.
    std::lock_guard<std::mutex> lock(Queue().Lock);
    FFinished = true;
    if (!FGivenUp)
        Queue().Push(TQueued{this, nullptr});
    Queue().Changed.notify_all();
}

bool TThread::Finished() const {
    std::lock_guard<std::mutex> lock(Queue().Lock);
    return FFinished;
}

bool TThread::WaitFor(int ms) {
    std::unique_lock<std::mutex> lock(Queue().Lock);
    if (!FThread.joinable())
        return FFinished;
    auto ended = [this] { return FFinished; };
    if (ms < 0) {
        Queue().Changed.wait(lock, ended);
        return true;
    }
    return Queue().Changed.wait_for(lock, std::chrono::milliseconds(ms), ended);
}

void TThread::GiveUp() {
    std::lock_guard<std::mutex> lock(Queue().Lock);
    FGivenUp = true;
    DropEntriesOf(Queue(), this);
}

bool TThread::GivenUp() const {
    std::lock_guard<std::mutex> lock(Queue().Lock);
    return FGivenUp;
}

bool TThread::Synchronize(const std::function<void()>& call) {
    if (FBodyThread.load() != std::this_thread::get_id()) {
        call();
        return true;
    }
    TSyncCall sync;
    sync.Call = &call;
    std::unique_lock<std::mutex> lock(Queue().Lock);
    if (FGivenUp)
        return false;
    Queue().Push(TQueued{this, &sync});
    Queue().Changed.wait(lock, [&sync] { return sync.Done || sync.Dropped; });
    if (sync.Dropped)
        return false;
    lock.unlock();
    if (sync.Error)
        std::rethrow_exception(sync.Error);
    return true;
}
