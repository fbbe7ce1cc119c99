// The main window's page at once, its refresh on a timer, the settings dialog and the tray.
#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <map>

#include "news/NewsTypeCls.h"
#include "ui/Messages.h"
#include "ui/ProdInfo.h"
#include "ui/QtText.h"
#include "ui/SettingsForm.h"

namespace {

const char* const kIntervalKey = "RefreshInterval";
const char* const kNotificationsKey = "Notifications";
constexpr int kDefaultInterval = 30;
// While a refresh runs, the page follows the feeds that arrive at most this often.
constexpr int kPageUpdateMs = 2000;

// A stored whole number, or fallback when it is absent or no number.
int StoredInteger(const QSettings& settings, const char* name, int fallback) {
    bool ok = false;
    const int value = settings.value(name).toInt(&ok);
    return settings.contains(name) && ok ? value : fallback;
}

} // namespace

// What the window keeps for these features; a child of the window.
class TTimedRefresh : public QObject {
public:
    using QObject::QObject;

    QTimer Timer;
    // Whether the running refresh is the timer's.
    bool Timed = false;
    int Interval = kDefaultInterval;
    bool Notifications = true;
    // New items per feed of the timer's last refresh, while its store writes are still coming in.
    bool Collecting = false;
    std::map<std::string, int> NewItems;
    // The page's feeds have changed since it was last rendered; the update is then due at the
    // next tick of PageTimer, which keeps updates kPageUpdateMs apart.
    bool PageStale = false;
    QTimer PageTimer;
    QElapsedTimer SinceRender;
    // The ErrorText and the document hash (empty: unknown) of each feed of the page as the page
    // was rendered.
    std::map<std::string, std::pair<std::string, std::string>> ShownErrors;
    // A failed feed's error page shown while a user's refresh of another page runs, and its text.
    bool FailedPending = false;
    std::string FailedShown;
    QSystemTrayIcon* Tray = nullptr;
    QString LastMessage;
};

void TfrmMain::CreateTimedRefresh() {
    FTimed = new TTimedRefresh(this);
    QSettings& settings = Settings();
    FTimed->Interval = std::max(0, StoredInteger(settings, kIntervalKey, kDefaultInterval));
    FTimed->Notifications = StoredInteger(settings, kNotificationsKey, 1) != 0;
    connect(&FTimed->Timer, &QTimer::timeout, this, [this] { Guarded([&] { StartTimedRefresh(); }); });
    SetRefreshInterval(FTimed->Interval);

    FTimed->PageTimer.setSingleShot(true);
    connect(&FTimed->PageTimer, &QTimer::timeout, this, [this] { Guarded([&] { UpdateChangedPage(); }); });

    // Each outcome after whoever else listens (the item store).
    auto previous = FRefresher.OnOutcome;
    FRefresher.OnOutcome = [this, previous](const TFeedOutcome& outcome) {
        if (previous)
            previous(outcome);
        NotePageOutcome(outcome);
    };
    OnNewItems = [this](const std::string& feedId, int newItems) { NoteNewItems(feedId, newItems); };

    miSettings = new QAction("&Settings...", this);
    miSettings->setObjectName("miSettings");
    connect(miSettings, &QAction::triggered, this, [this] { Guarded([&] { miSettingsClick(); }); });
    miFile->insertAction(miExit, miSettings);
    miFile->insertSeparator(miExit);

    // No tray, no icon: nothing else changes.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        FTimed->Tray =
            new QSystemTrayIcon(windowIcon().isNull() ? QIcon(ImtTreeView[1]) : windowIcon(), this);
        FTimed->Tray->setObjectName("TrayIcon");
        connect(FTimed->Tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                        RaiseWindow();
                });
        connect(FTimed->Tray, &QSystemTrayIcon::messageClicked, this, [this] { RaiseWindow(); });
        FTimed->Tray->show();
    }
    // The title changes with the unread total, and so does the tray's text.
    connect(this, &QWidget::windowTitleChanged, this, [this] { UpdateTrayToolTip(); });
    UpdateTrayToolTip();
}

QSystemTrayIcon* TfrmMain::TrayIcon() const {
    return FTimed ? FTimed->Tray : nullptr;
}

QString TfrmMain::TrayToolTip() const {
    const int total = UnreadTotal();
    const QString title = ToQt(ProductInfo.Title);
    if (total <= 0)
        return title + "\nNo unread items";
    return title + "\n" + QString::number(total) + (total == 1 ? " unread item" : " unread items");
}

QString TfrmMain::TrayMessage() const {
    return FTimed ? FTimed->LastMessage : QString();
}

void TfrmMain::UpdateTrayToolTip() {
    if (FTimed && FTimed->Tray)
        FTimed->Tray->setToolTip(TrayToolTip());
}

void TfrmMain::RaiseWindow() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

int TfrmMain::RefreshInterval() const {
    return FTimed ? FTimed->Interval : 0;
}

bool TfrmMain::Notifications() const {
    return FTimed && FTimed->Notifications;
}

void TfrmMain::SetRefreshInterval(int minutes) {
    FTimed->Interval = std::max(0, minutes);
    if (FTimed->Interval == 0) {
        FTimed->Timer.stop();
        return;
    }
    FTimed->Timer.start(FTimed->Interval * 60 * 1000);
}

void TfrmMain::SetNotifications(bool on) {
    FTimed->Notifications = on;
}

void TfrmMain::miSettingsClick() {
    TfrmSettings dialog(this);
    int interval = FTimed->Interval;
    bool notifications = FTimed->Notifications;
    if (!dialog.Execute(interval, notifications))
        return;
    // A new interval counts from now.
    SetRefreshInterval(interval);
    SetNotifications(notifications);
    QSettings& settings = Settings();
    settings.setValue(kIntervalKey, static_cast<qint32>(FTimed->Interval));
    settings.setValue(kNotificationsKey, static_cast<qint32>(notifications ? 1 : 0));
    settings.sync();
}

bool TfrmMain::TimedRefreshing() const {
    return FTimed && FTimed->Timed && Refreshing();
}

void TfrmMain::StartTimedRefresh() {
    // A refresh in progress (the user's) has the timer skip its turn.
    if (Refreshing())
        return;
    FTimed->Timed = true;
    FTimed->Collecting = true;
    FTimed->NewItems.clear();
    tbnStop->setEnabled(true);
    try {
        FRefresher.StartFeeds([](const TFeedListItem& item) { return !item.FeedURL.empty(); }, false);
    } catch (...) {
        if (!FRefresher.IsRunning())
            RefreshFinished();
        throw;
    }
}

void TfrmMain::NoteNewItems(const std::string& feedId, int newItems) {
    if (FTimed && FTimed->Collecting && newItems > 0)
        FTimed->NewItems[feedId] += newItems;
}

bool TfrmMain::EndTimedRefresh() {
    if (!FTimed || !FTimed->Timed)
        return false;
    FTimed->Timed = false;
    // The counts of new items come with the store's writes, which may still be under way.
    AfterStoreWrites([this] {
        if (!FTimed->Collecting)
            return;
        FTimed->Collecting = false;
        int items = 0;
        for (const auto& feed : FTimed->NewItems)
            items += feed.second;
        const int feeds = static_cast<int>(FTimed->NewItems.size());
        FTimed->NewItems.clear();
        if (items == 0 || !FTimed->Notifications)
            return;
        FTimed->LastMessage = QString::number(items) + (items == 1 ? " new item in " : " new items in ") +
                              QString::number(feeds) + (feeds == 1 ? " feed" : " feeds");
        if (FTimed->Tray)
            FTimed->Tray->showMessage(ToQt(ProductInfo.Title), FTimed->LastMessage);
    });
    return true;
}

void TfrmMain::MarkSelection() {
    QTreeWidgetItem* node = tvwFeeds->currentItem();
    TFeedListItem* item = NodeItem(node);
    FFeeds.ClearRefreshMarks();
    if (!item)
        return;
    if (!item->FeedURL.empty())
        item->RefreshMark = true;
    else
        MarkForRefresh(node, true);
}

void TfrmMain::ShowFailedFeed(const std::string& errorText) {
    FTimed->FailedPending = false;
    if (Refreshing() && !TimedRefreshing()) {
        // That refresh's marks name its own feeds until it ends; nothing it brings is this page.
        FTimed->ShownErrors.clear();
        FTimed->FailedPending = true;
        FTimed->FailedShown = errorText;
    } else {
        MarkSelection();
        RememberShownPage();
    }
    ShowError(errorText);
}

void TfrmMain::FollowFailedFeed() {
    if (!FTimed->FailedPending)
        return;
    FTimed->FailedPending = false;
    MarkSelection();
    const TFeedListItem* item = NodeItem(tvwFeeds->currentItem());
    if (item && item->ErrorText != FTimed->FailedShown)
        ShowCachedPage();
    else
        RememberShownPage();
}

void TfrmMain::ShowCachedPage() {
    FTimed->PageStale = false;
    FTimed->PageTimer.stop();
    FNews->LoadMarkedFeeds();
    ShowMarkedPage(false);
}

void TfrmMain::RememberShownPage() {
    FTimed->ShownErrors.clear();
    for (const auto& entry : FFeeds.Items)
        if (entry->RefreshMark && !entry->FeedURL.empty())
            FTimed->ShownErrors[entry->FeedID] = {entry->ErrorText, entry->CacheState.Hash};
}

void TfrmMain::ShowMarkedPage(bool keepPlace) {
    RememberShownPage();
    FTimed->SinceRender.start();
    const TFeedListItem* item = NodeItem(tvwFeeds->currentItem());
    if (item && !item->ErrorText.empty())
        ShowError(item->ErrorText);
    else
        ShowNewsPage(keepPlace);
}

void TfrmMain::NotePageOutcome(const TFeedOutcome& outcome) {
    const auto shown = FTimed->ShownErrors.find(outcome.Feed.FeedID);
    if (shown == FTimed->ShownErrors.end())
        return;
    const TFeedListItem* entry = nullptr;
    for (const auto& item : FFeeds.Items)
        if (item->FeedID == outcome.Feed.FeedID)
            entry = item.get();
    // Dropped (the feed gone or given another address) or nothing new for the page.
    if (!entry || !entry->RefreshMark || entry->FeedURL != outcome.Feed.FeedURL)
        return;
    // A document downloaded again with the bytes the page was made from changes nothing.
    const bool newDocument = outcome.Downloaded &&
                             (shown->second.second.empty() || entry->CacheState.Hash != shown->second.second);
    if (!newDocument && entry->ErrorText == shown->second.first)
        return;
    FTimed->PageStale = true;
    if (!FTimed->PageTimer.isActive()) {
        const qint64 spent = FTimed->SinceRender.isValid() ? FTimed->SinceRender.elapsed() : kPageUpdateMs;
        FTimed->PageTimer.start(static_cast<int>(std::max<qint64>(0, kPageUpdateMs - spent)));
    }
}

void TfrmMain::UpdateChangedPage() {
    FTimed->PageTimer.stop();
    if (!FTimed->PageStale)
        return;
    FTimed->PageStale = false;
    FNews->LoadMarkedFeeds();
    ShowMarkedPage(true);
}

void TfrmMain::DropPageUpdate() {
    FTimed->FailedPending = false;
    FTimed->PageStale = false;
    FTimed->PageTimer.stop();
}

bool TfrmMain::PageStale() const {
    return FTimed && FTimed->PageStale;
}
