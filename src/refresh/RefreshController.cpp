#include "refresh/RefreshController.h"

#include <chrono>

TRefreshController::TRefreshController(TFeedList& feeds) : FFeeds(feeds) {}

TRefreshController::~TRefreshController() {
    // The window is going away: its handlers must not run any more.
    OnStatus = nullptr;
    OnFinished = nullptr;
    Stop();
    WaitForWorkers();
}

void TRefreshController::Start() {
    Stop();
    Reap();
    auto* refresher = new TFeedsRefresher(FFeeds);
    refresher->OnStatus = [this](const std::string& text) {
        if (OnStatus)
            OnStatus(text);
    };
    refresher->OnTerminate = [this](TThread* sender) { RefreshFinished(sender); };
    FRefresher = refresher;
    refresher->Resume();
}

bool TRefreshController::Stop(int waitMs) {
    if (!FRefresher)
        return false;
    std::unique_ptr<TFeedsRefresher> refresher(FRefresher);
    FRefresher = nullptr;
    refresher->Cancel();
    if (!refresher->WaitFor(waitMs)) {
        // The client clears Aborted when an exchange starts, so a stop that fell just before one
        // is asserted once more; the worker ends at the next 100 ms pass.
        refresher->Client.Aborted = true;
        FGivenUp.push_back(std::move(refresher));
    }
    Reap();
    if (OnFinished)
        OnFinished();
    return true;
}

std::unique_lock<std::mutex> TRefreshController::HoldEntries() {
    if (!FRefresher)
        return std::unique_lock<std::mutex>();
    return std::unique_lock<std::mutex>(FRefresher->EntriesLock());
}

bool TRefreshController::WaitForWorkers(int waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        Reap();
        if (FGivenUp.empty())
            return true;
        if (waitMs >= 0 && std::chrono::steady_clock::now() >= deadline)
            return false;
        for (auto& worker : FGivenUp)
            worker->Client.Aborted = true;
        FGivenUp.front()->WaitFor(100);
    }
}

void TRefreshController::RefreshFinished(TThread* sender) {
    // Given-up workers never get here, so this is the running refresh ending on its own.
    if (sender != FRefresher)
        return;
    FRefresher = nullptr;
    if (OnFinished)
        OnFinished();
}

void TRefreshController::Reap() {
    for (auto it = FGivenUp.begin(); it != FGivenUp.end();) {
        if ((*it)->Finished())
            it = FGivenUp.erase(it);
        else
            ++it;
    }
}
