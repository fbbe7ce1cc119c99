// The main window's read and unread items: the store written off this thread, the counts in the
// tree and the title, and the commands that mark items read or unread.
#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QTreeWidget>

#include <algorithm>
#include <memory>

#include "cache/CacheFiles.h"
#include "news/ItemStoreWriter.h"
#include "news/NewsTypeCls.h"
#include "platform/TimeZone.h"
#include "store/ItemStore.h"
#include "ui/FeedTree.h"
#include "ui/ProdInfo.h"
#include "ui/QtText.h"

void TfrmMain::SetItemStore(TItemStore* store) {
    // Whatever the old store was still to write goes there first.
    FStoreWriter.reset();
    FStore = store;
    FStoreDone = 0;
    FUnread.clear();
    if (FStore) {
        FStoreWriter = std::make_unique<TItemStoreWriter>(*FStore);
        FStoreWriter->OnWritten = [this](TStoreWriteReport& report) {
            // The writer's thread: the report is handed to this one, and dropped with the window.
            QMetaObject::invokeMethod(
                this, [this, report = std::move(report)] { StoreWritten(report); }, Qt::QueuedConnection);
        };
        // The one store read at start: the counts kept per feed, no document parsed.
        for (const auto& [feedId, counts] : FStore->UnreadCounts())
            FUnread[feedId] = counts.Unread;
        FStoreNote = FStore->Message();
        ShowStoreNote();
        FStoreWriter->Purge(NowUTC());
        // An item whose link the user opens has been read.
        FBrowser->OnItemOpened = [this](int place) {
            if (place < 0 || static_cast<size_t>(place) >= FShownItems.size())
                return;
            std::vector<std::pair<std::string, std::string>> opened = {FShownItems[place]};
            MarkItemsRead(opened);
        };
        // Closing the window is leaving the node.
        connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { MarkSeenItemsAtClose(); });
    }
    UpdateCounts();
    std::vector<std::pair<uint64_t, std::function<void()>>> waiting;
    waiting.swap(FAfterStoreWrites);
    for (auto& call : waiting)
        call.second();
}

void TfrmMain::ShowStoreNote() {
    if (FStoreNote.empty())
        return;
    ShowRefreshStatus(FStoreNote);
    // A running refresh's texts would hide it at once: its end shows it again.
    if (!Refreshing())
        FStoreNote.clear();
}

void TfrmMain::RecordOutcome(const TFeedOutcome& outcome) {
    // The document was renamed into place just now; the writer reads it when the job runs.
    if (FStoreWriter)
        FStoreWriter->RecordAppliedDocument(FFeeds, outcome.Feed.FeedID, outcome.Feed.FeedURL,
                                            outcome.Downloaded, NowUTC());
}

void TfrmMain::StoreWritten(const TStoreWriteReport& report) {
    FStoreDone = report.Done;
    FUnread.clear();
    for (const auto& [feedId, counts] : report.Counts)
        FUnread[feedId] = counts.Unread;
    // Said once: from then on the reader goes on without saving.
    if (!report.Failure.empty()) {
        FStoreNote = "The read state of the news is not saved: " + report.Failure;
        ShowStoreNote();
    }
    UpdateCounts();
    for (const auto& [feedId, newItems] : report.NewItems)
        if (OnNewItems)
            OnNewItems(feedId, newItems);
    std::vector<std::function<void()>> due;
    for (auto it = FAfterStoreWrites.begin(); it != FAfterStoreWrites.end();) {
        if (it->first <= FStoreDone) {
            due.push_back(std::move(it->second));
            it = FAfterStoreWrites.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& call : due)
        call();
}

void TfrmMain::AfterStoreWrites(std::function<void()> call) {
    if (!FStoreWriter || FStoreWriter->Queued() <= FStoreDone) {
        call();
        return;
    }
    FAfterStoreWrites.emplace_back(FStoreWriter->Queued(), std::move(call));
}

bool TfrmMain::WaitForItemStore(int ms) {
    if (!FStoreWriter)
        return true;
    if (!FStoreWriter->WaitIdle(ms))
        return false;
    // The writer's reports are queued for this thread: shown now.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    return true;
}

void TfrmMain::VisitAggregated(QTreeWidgetItem* node, bool topLevel,
                               const std::function<void(QTreeWidgetItem* node, TFeedListItem& item)>& visit) {
    TFeedListItem* item = NodeItem(node);
    if (!item)
        return;
    visit(node, *item);
    if (!item->AggInclude && !topLevel)
        return;
    for (int i = 0; i < node->childCount(); ++i)
        VisitAggregated(node->child(i), false, visit);
}

namespace {

// The FeedIDs of the feeds a selection of node shows: the feed itself, or those its marking
// rule takes.
std::vector<std::string> ShownFeeds(QTreeWidgetItem* node) {
    std::vector<std::string> feeds;
    const TFeedListItem* item = TfrmMain::NodeItem(node);
    if (!item)
        return feeds;
    if (!item->FeedURL.empty()) {
        feeds.push_back(item->FeedID);
        return feeds;
    }
    TfrmMain::VisitAggregated(node, true, [&](QTreeWidgetItem*, TFeedListItem& entry) {
        if (!entry.FeedURL.empty() && entry.AggInclude)
            feeds.push_back(entry.FeedID);
    });
    return feeds;
}

} // namespace

int TfrmMain::NodeUnread(const QTreeWidgetItem* node) const {
    int unread = 0;
    for (const std::string& feedId : ShownFeeds(const_cast<QTreeWidgetItem*>(node))) {
        const auto found = FUnread.find(feedId);
        if (found != FUnread.end())
            unread += found->second;
    }
    return unread;
}

void TfrmMain::UpdateCounts() {
    int total = 0;
    // One pass from the leaves up: a feed counts its own items; a folder (and All Feeds) what its
    // aggregated children count, each aggregated sub-folder its own sum, as NodeUnread does, so
    // the whole tree costs one visit per node.
    std::function<int(QTreeWidgetItem*)> update = [&](QTreeWidgetItem* node) -> int {
        const TFeedListItem* item = NodeItem(node);
        if (!item)
            return 0;
        int unread = 0;
        if (!item->FeedURL.empty()) {
            const auto found = FUnread.find(item->FeedID);
            unread = found != FUnread.end() ? found->second : 0;
            total += unread;
        }
        for (int i = 0; i < node->childCount(); ++i) {
            QTreeWidgetItem* child = node->child(i);
            const int childUnread = update(child);
            const TFeedListItem* entry = NodeItem(child);
            if (item->FeedURL.empty() && entry && entry->AggInclude)
                unread += childUnread;
        }
        // Only a changed count draws its row again; an open rename editor keeps what is typed.
        if (node->data(0, kUnreadRole).toInt() != unread)
            node->setData(0, kUnreadRole, unread);
        return unread;
    };
    for (int i = 0; i < tvwFeeds->topLevelItemCount(); ++i)
        update(tvwFeeds->topLevelItem(i));
    FUnreadTotal = total;
    const QString title = ToQt(ProductInfo.Title);
    setWindowTitle(total > 0 ? QString("(%1) %2").arg(total).arg(title) : title);
}

void TfrmMain::ForgetFeeds(const std::vector<std::string>& feedIds) {
    if (feedIds.empty())
        return;
    for (const std::string& feedId : feedIds)
        FUnread.erase(feedId);
    if (FStoreWriter)
        FStoreWriter->DeleteFeeds(feedIds);
    UpdateCounts();
}

void TfrmMain::FeedReaddressed(const TFeedListItem& item) {
    FUnread.erase(item.FeedID);
    if (FStoreWriter)
        FStoreWriter->ReaddressFeed(item.FeedID);
}

void TfrmMain::miMarkReadClick() {
    const std::vector<std::string> feeds = ShownFeeds(tvwFeeds->currentItem());
    if (FStoreWriter && !feeds.empty())
        FStoreWriter->MarkFeedsRead(feeds);
}

void TfrmMain::miMarkUnreadClick() {
    const TFeedListItem* item = NodeItem(tvwFeeds->currentItem());
    if (FStoreWriter && item && !item->FeedURL.empty())
        FStoreWriter->MarkFeedUnread(item->FeedID);
}

void TfrmMain::miMarkAllReadClick() {
    std::vector<std::string> feeds;
    for (const auto& item : FFeeds.Items)
        if (!item->FeedURL.empty())
            feeds.push_back(item->FeedID);
    if (FStoreWriter && !feeds.empty())
        FStoreWriter->MarkFeedsRead(feeds);
}

void TfrmMain::MarkSeenItems() {
    NoteSeenItems(true);
}

void TfrmMain::MarkSeenItemsAtClose(int waitMs) {
    // Shared with the answer, which may still come after this has given up waiting.
    struct TWait {
        bool Done = false;
        QEventLoop* Loop = nullptr;
    };
    const auto wait = std::make_shared<TWait>();
    NoteSeenItems(true, [wait] {
        wait->Done = true;
        if (wait->Loop)
            wait->Loop->quit();
    });
    if (wait->Done)
        return;
    QEventLoop loop;
    QTimer bound;
    bound.setSingleShot(true);
    connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    bound.start(waitMs);
    wait->Loop = &loop;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    wait->Loop = nullptr;
}

void TfrmMain::NoteSeenItems(bool markNow, std::function<void()> done) {
    if (!FBrowser) {
        if (done)
            done();
        return;
    }
    // The view's places are those of the page it shows, whatever is rendered before they come.
    QPointer<TfrmMain> self(this);
    FBrowser->TakeSeenItems(
        [self, shown = FShownItems, markNow, done = std::move(done)](std::vector<int> seen) {
            if (!self)
                return;
            for (int place : seen)
                if (place >= 0 && static_cast<size_t>(place) < shown.size())
                    self->FSeenItems.push_back(shown[place]);
            if (markNow)
                self->MarkItemsRead(self->FSeenItems);
            if (done)
                done();
        });
}

void TfrmMain::MarkItemsRead(std::vector<std::pair<std::string, std::string>>& items) {
    std::map<std::string, std::vector<std::string>> byFeed;
    for (auto& [feedId, id] : items)
        byFeed[feedId].push_back(std::move(id));
    items.clear();
    if (!FStoreWriter)
        return;
    for (auto& [feedId, ids] : byFeed)
        FStoreWriter->MarkRead(feedId, std::move(ids));
}

void TfrmMain::NoteRenderedItems() {
    FShownItems.clear();
    if (!FNews)
        return;
    FShownItems.reserve(FNews->RenderedItems().size());
    for (const TNewsItem* item : FNews->RenderedItems())
        FShownItems.emplace_back(item->Feed ? item->Feed->FeedID : std::string(), item->Id);
}

void TfrmMain::ApplyUnreadState() {
    if (!FNews)
        return;
    // A document recorded a moment ago is in the store before its items are looked up there;
    // the wait is bounded, so a slow disk shows them as read rather than holding the page.
    if (FStoreWriter)
        FStoreWriter->WaitIdle(100);
    std::map<const TFeedListItem*, std::vector<std::string>> unread;
    for (const auto& item : FNews->NewsItems) {
        item->Unread = false;
        if (!FStore || !item->Feed)
            continue;
        auto found = unread.find(item->Feed);
        if (found == unread.end())
            found = unread.emplace(item->Feed, FStore->UnreadIds(item->Feed->FeedID)).first;
        item->Unread = std::binary_search(found->second.begin(), found->second.end(), item->Id);
    }
}
