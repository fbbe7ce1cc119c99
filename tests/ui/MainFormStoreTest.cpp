// The window's read and unread items: the counts in the tree and the title, the marking commands,
// and what a refresh records in the item store.
#include "ui/MainForm.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <atomic>
#include <set>

#include "FeedServer.h"
#include "LoopbackHttpServer.h"
#include "UiTestSupport.h"
#include "WindowFixture.h"
#include "cache/CacheFiles.h"
#include "platform/Files.h"
#include "store/ItemStore.h"
#include "ui/FeedForm.h"
#include "ui/FeedTree.h"
#include "ui/QtText.h"

namespace {

const TDateTime kDay1 = 46000;

// A feed document whose items have the guids "<name>-1" .. "<name>-<count>", each a day newer
// than the one before, so that the page shows them from the last to the first.
std::string FeedDocument(const std::string& name, int count = 1) {
    std::string text = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + name + "</title>";
    for (int i = 1; i <= count; ++i)
        text += "<item><title>" + name + "</title><guid>" + name + "-" + std::to_string(i) +
                "</guid><pubDate>0" + std::to_string(i) + " Dec 2026 10:00:00 GMT</pubDate></item>";
    return text + "</channel></rss>";
}

// Serves FeedDocument(name, 2) for every path "/<name>"; a path in held gets no answer until
// Release.
class TFeedServer : public TLoopbackFeeds {
public:
    explicit TFeedServer(std::set<std::string> held = {})
        : TLoopbackFeeds([](const std::string& name, int) { return FeedDocument(name, 2); },
                         std::move(held)) {}
};

// A catalogue and its item store in a temporary data folder, and the window over both. The store
// is declared first: the window writes it until it goes.
struct TStoreFixture : TWindowTestBase {
    TItemStore Store;

    TStoreFixture() { Store.Open(Dir.File("items.db")); }
    // The window goes before the store it reads.
    ~TStoreFixture() { Close(); }

    TFeedListItem* Add(const std::string& parentId, const std::string& name, const std::string& url,
                       bool aggInclude, int unread = 0) {
        TFeedListItem* item = Feeds.Add(parentId, name, url);
        item->AggInclude = aggInclude;
        if (unread > 0) {
            std::vector<TStoreItem> items;
            for (int i = 0; i < unread; ++i)
                items.push_back({name + std::to_string(i), 0});
            Store.RecordDocument(item->FeedID, items, kDay1);
        }
        return item;
    }
    void Open() {
        TWindowTestBase::Open();
        Form->SetItemStore(&Store);
    }
    int Unread(const QString& text) const { return Form->NodeUnread(Node(text)); }
    // The look of a node as the tree's delegate draws it.
    QStyleOptionViewItem Look(const QString& text) const {
        auto* delegate = static_cast<TNodeDelegate*>(Form->tvwFeeds->itemDelegate());
        return delegate->NodeOption(Form->tvwFeeds->indexFromItem(Node(text)));
    }
    void Select(const QString& text) {
        QTreeWidgetItem* node = Node(text);
        QVERIFY(node);
        Form->tvwFeeds->setCurrentItem(node);
    }
};

} // namespace

class MainFormStoreTest : public QObject {
    Q_OBJECT

private slots:
    // A folder and All Feeds count the feeds their own page would show: aggregated children,
    // and below them only aggregated folders; the title counts every feed of the tree.
    void countsFollowTheMarkingRule() {
        TStoreFixture f;
        f.Add("root", "top", "http://127.0.0.1:9/top", true, 1);
        f.Add("root", "topOff", "http://127.0.0.1:9/topOff", false, 2);
        TFeedListItem* on = f.Add("root", "FolderOn", "", true);
        f.Add(on->FeedID, "inner", "http://127.0.0.1:9/inner", true, 4);
        f.Add(on->FeedID, "innerOff", "http://127.0.0.1:9/innerOff", false, 8);
        TFeedListItem* sub = f.Add(on->FeedID, "SubOff", "", false);
        f.Add(sub->FeedID, "deep", "http://127.0.0.1:9/deep", true, 16);
        TFeedListItem* off = f.Add("root", "FolderOff", "", false);
        f.Add(off->FeedID, "child", "http://127.0.0.1:9/child", true, 32);
        f.Open();

        QCOMPARE(f.Form->NodeUnread(f.Form->AllFeedsNode()), 1 + 4);
        QCOMPARE(f.Unread("FolderOn"), 4);
        QCOMPARE(f.Unread("SubOff"), 16);
        QCOMPARE(f.Unread("FolderOff"), 32);
        QCOMPARE(f.Unread("innerOff"), 8);
        QCOMPARE(f.Form->UnreadTotal(), 63);
        QCOMPARE(f.Form->windowTitle(), QString("(63) Tovel RSS Reader"));

        // Every folder counts exactly what a refresh of it marks.
        for (QTreeWidgetItem* node :
             {f.Form->AllFeedsNode(), f.Node("FolderOn"), f.Node("SubOff"), f.Node("FolderOff")}) {
            f.Feeds.ClearRefreshMarks();
            f.Form->MarkForRefresh(node, true);
            int marked = 0;
            for (const auto& item : f.Feeds.Items)
                if (item->RefreshMark && !item->FeedURL.empty())
                    marked += f.Form->NodeUnread(f.Node(ToQt(item->FeedName)));
            QCOMPARE(f.Form->NodeUnread(node), marked);
        }

        // The count each row draws is the node's.
        const auto drawn = [&] {
            for (QTreeWidgetItemIterator it(f.Form->tvwFeeds); *it; ++it)
                QCOMPARE((*it)->data(0, kUnreadRole).toInt(), f.Form->NodeUnread(*it));
        };
        drawn();
        if (QTest::currentTestFailed())
            return;

        // Aggregating the sub-folder brings its feed into its parents' counts at once.
        f.Select("SubOff");
        f.Form->miAggregate->trigger();
        QCOMPARE(f.Unread("FolderOn"), 4 + 16);
        QCOMPARE(f.Form->NodeUnread(f.Form->AllFeedsNode()), 1 + 4 + 16);
        drawn();
        QVERIFY(f.Messages.Shown.empty());
    }

    // The delegate draws "Name (n)" in bold; the node's text, which renaming and the sort see,
    // stays the name.
    void theCountIsDrawnBesideTheName() {
        TStoreFixture f;
        f.Add("root", "Alpha", "http://127.0.0.1:9/a", true, 12);
        f.Add("root", "Beta", "http://127.0.0.1:9/b", true, 0);
        f.Open();
        f.Form->show();

        QCOMPARE(f.Look("Alpha").text, QString("Alpha (12)"));
        QVERIFY(f.Look("Alpha").font.bold());
        QCOMPARE(f.Look("Beta").text, QString("Beta"));
        QVERIFY(!f.Look("Beta").font.bold());
        QCOMPARE(f.Look("All Feeds").text, QString("All Feeds (12)"));
        QCOMPARE(f.Node("Alpha")->text(0), QString("Alpha"));

        f.Select("Alpha");
        f.Form->EditNode(f.Node("Alpha"));
        auto* editor = f.Form->tvwFeeds->findChild<QLineEdit*>();
        QVERIFY(editor);
        QCOMPARE(editor->text(), QString("Alpha"));
    }

    // Mark as Read covers the node's page, Mark as Unread a feed, Mark All as Read everything.
    void markingCommands() {
        TStoreFixture f;
        TFeedListItem* folder = f.Add("root", "Folder", "", true);
        f.Add(folder->FeedID, "inner", "http://127.0.0.1:9/inner", true, 3);
        f.Add(folder->FeedID, "innerOff", "http://127.0.0.1:9/innerOff", false, 5);
        f.Add("root", "top", "http://127.0.0.1:9/top", true, 7);
        f.Open();

        f.Select("Folder");
        QVERIFY(f.Form->miMarkRead->isEnabled());
        QVERIFY(!f.Form->miMarkUnread->isEnabled());
        f.Form->miMarkRead->trigger();
        QVERIFY(f.Form->WaitForItemStore());
        QCOMPARE(f.Unread("inner"), 0);
        QCOMPARE(f.Unread("innerOff"), 5);
        QCOMPARE(f.Unread("top"), 7);
        QCOMPARE(f.Form->windowTitle(), QString("(12) Tovel RSS Reader"));

        f.Select("inner");
        QVERIFY(f.Form->miMarkUnread->isEnabled());
        f.Form->miMarkUnread->trigger();
        QVERIFY(f.Form->WaitForItemStore());
        QCOMPARE(f.Unread("inner"), 3);
        QCOMPARE(f.Unread("Folder"), 3);

        f.Form->miMarkAllRead->trigger();
        QVERIFY(f.Form->WaitForItemStore());
        QCOMPARE(f.Form->UnreadTotal(), 0);
        QCOMPARE(f.Form->windowTitle(), QString("Tovel RSS Reader"));
        QCOMPARE(f.Store.UnreadCounts()[folder->FeedID].Unread, 0);
    }

    // A refresh's outcome records the new document: the count, the title and OnNewItems follow;
    // a feed deleted while its download ran gets no rows, and its old rows go.
    void outcomesAreRecordedUnlessTheFeedWentMeanwhile() {
        TFeedServer server({"held"});
        TStoreFixture f;
        TFeedListItem* folder = f.Add("root", "Folder", "", true);
        TFeedListItem* quick = f.Add(folder->FeedID, "quick", server.Url("quick"), true);
        TFeedListItem* held = f.Add(folder->FeedID, "held", server.Url("held"), true, 1);
        const std::string heldId = held->FeedID;
        f.Open();
        std::vector<std::pair<std::string, int>> news;
        f.Form->OnNewItems = [&news](const std::string& feedId, int count) {
            news.emplace_back(feedId, count);
        };

        f.Select("Folder");
        QTRY_COMPARE_WITH_TIMEOUT(f.Unread("quick"), 2, 20000);
        QCOMPARE(f.Form->windowTitle(), QString("(3) Tovel RSS Reader"));
        QCOMPARE(news, (std::vector<std::pair<std::string, int>>{{quick->FeedID, 2}}));
        QTRY_VERIFY_WITH_TIMEOUT(server.Requested("held"), 20000);

        // Deleted while its download hangs, without a new selection stopping the refresh.
        QVERIFY(f.Form->Refreshing());
        f.Form->tvwFeeds->blockSignals(true);
        f.Form->tvwFeeds->setCurrentItem(f.Node("held"));
        f.Messages.Answers.push_back(true);
        f.Form->miDeleteClick();
        f.Form->tvwFeeds->blockSignals(false);
        server.Release();
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 20000);
        QVERIFY(f.Form->WaitForItemStore());
        QCOMPARE(f.Store.UnreadCounts().count(heldId), size_t(0));
        QCOMPARE(f.Store.UnreadIds(heldId), std::vector<std::string>());
        QCOMPARE(news.size(), size_t(1));
        QCOMPARE(f.Form->windowTitle(), QString("(2) Tovel RSS Reader"));
    }

    // What the view saw of a page is read once the user leaves the node; an opened link is read
    // at once.
    void seenAndOpenedItemsAreRead() {
        TFeedServer server;
        TStoreFixture f;
        TFeedListItem* a = f.Add("root", "a", server.Url("a"), true);
        f.Add("root", "b", server.Url("b"), true);
        f.Open();
        f.Form->cbxNewsFilter->setCurrentIndex(5);
        auto* browser = static_cast<TPlainBrowser*>(f.Form->Browser());

        f.Select("a");
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 20000);
        QVERIFY(f.Form->WaitForItemStore());
        QTRY_COMPARE(f.Unread("a"), 2);
        // Place 1 of the page is the older item; still unread while the node is shown.
        browser->SeenItems = {1};
        f.Form->ShowNewsPage();
        QVERIFY(f.Form->WaitForItemStore());
        QCOMPARE(f.Unread("a"), 2);

        f.Select("b");
        QVERIFY(f.Form->WaitForItemStore());
        QCOMPARE(f.Store.UnreadIds(a->FeedID), std::vector<std::string>({"a-2"}));
        QCOMPARE(f.Unread("a"), 1);

        f.Select("a");
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 20000);
        QVERIFY(browser->OnItemOpened);
        browser->OnItemOpened(0);
        QVERIFY(f.Form->WaitForItemStore());
        QCOMPARE(f.Unread("a"), 0);
    }

    // Closing: the view answers from the event loop, which is ending; the items it saw are read
    // all the same.
    void itemsSeenJustBeforeClosingAreRead() {
        TFeedServer server;
        TStoreFixture f;
        TFeedListItem* a = f.Add("root", "a", server.Url("a"), true);
        f.Open();
        f.Form->cbxNewsFilter->setCurrentIndex(5);
        auto* browser = static_cast<TPlainBrowser*>(f.Form->Browser());
        f.Select("a");
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 20000);
        QVERIFY(f.Form->WaitForItemStore());
        QTRY_COMPARE(f.Unread("a"), 2);

        browser->AnswerLater = true;
        browser->SeenItems = {0, 1};
        QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
        QCoreApplication::exec();
        QVERIFY(f.Form->WaitForItemStore());
        QCOMPARE(f.Store.UnreadIds(a->FeedID), std::vector<std::string>());
        QCOMPARE(f.Unread("a"), 0);
    }

    // A store that cannot write says so once in the status bar; the refresh and its page go on.
    void aFailingStoreIsSaidOnceAndTheRefreshGoesOn() {
        TFeedServer server;
        TStoreFixture f;
        f.Add("root", "feed", server.Url("feed"), true);
        QVERIFY(f.Store.ExecForTesting("CREATE TRIGGER full BEFORE INSERT ON items BEGIN SELECT RAISE(ABORT, "
                                       "'database or disk is full'); END"));
        f.Open();
        auto* browser = static_cast<TPlainBrowser*>(f.Form->Browser());

        f.Select("feed");
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 20000);
        QVERIFY(f.Form->WaitForItemStore());
        QCOMPARE(browser->Path.toStdString(), f.Dir.File("gen.html"));
        QVERIFY(f.Dir.Read("gen.html").find("<p>feed</p>") != std::string::npos);
        QVERIFY2(f.Form->StatusPanel0->toolTip().contains("not saved"),
                 qPrintable(f.Form->StatusPanel0->toolTip()));
        QVERIFY(f.Messages.Shown.empty());

        // Not again: the next refresh ends with an empty panel.
        f.Form->acnRefresh->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 20000);
        QVERIFY(f.Form->WaitForItemStore());
        QCOMPARE(f.Form->StatusPanel0->text(), QString());
    }
};

TOVEL_UI_TEST_MAIN(MainFormStoreTest)
#include "MainFormStoreTest.moc"
