#include "platform/WorkerKeeper.h"

#include <chrono>

namespace {

// Workers that outlived their keeper, kept reachable until the program ends: each still runs on
// its own copies and must not be released under itself.
std::vector<std::unique_ptr<TThread>>& Abandoned() {
    static auto* workers = new std::vector<std::unique_ptr<TThread>>();
    return *workers;
}

} // namespace

TWorkerKeeper::~TWorkerKeeper() {
    Reap();
    for (auto& worker : FWorkers)
        Abandoned().push_back(std::move(worker));
}

bool TWorkerKeeper::Release(std::unique_ptr<TThread> worker, int waitMs) {
    if (!worker)
        return true;
    worker->GiveUp();
    // A worker never started has no body to wait for.
    if (worker->WaitFor(waitMs) || !worker->Resumed())
        return true;
    FWorkers.push_back(std::move(worker));
    return false;
}

void TWorkerKeeper::Reap() {
    for (auto it = FWorkers.begin(); it != FWorkers.end();) {
        if ((*it)->Finished())
            it = FWorkers.erase(it);
        else
            ++it;
    }
}

bool TWorkerKeeper::WaitForAll(int waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        Reap();
        if (FWorkers.empty())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (waitMs >= 0 && left.count() <= 0)
            return false;
        FWorkers.front()->WaitFor(waitMs < 0 ? -1 : static_cast<int>(left.count()));
    }
}

size_t TWorkerKeeper::Count() {
    Reap();
    return FWorkers.size();
}
