// The window's refresh cycle: which entries a selection marks, and what Stop leaves behind.
#include "ui/MainForm.h"

#include <QAction>
#include <QLabel>
#include <QRegularExpression>
#include <QToolButton>
#include <QTreeWidget>

#include <atomic>
#include <map>
#include <set>

#include "FeedServer.h"
#include "LoopbackHttpServer.h"
#include "UiTestSupport.h"
#include "WindowFixture.h"
#include "cache/CacheFiles.h"
#include "platform/Files.h"
#include "ui/FeedForm.h"

namespace {

// A feed document with one undated item (undated items pass every filter) titled "item-<name>".
std::string FeedDocument(const std::string& name) {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + name +
           "</title><item><title>item-" + name + "</title></item></channel></rss>";
}

// Serves FeedDocument(name) for every path "/<name>"; a path in held gets no answer until Release.
class TFeedServer : public TLoopbackFeeds {
public:
    explicit TFeedServer(std::set<std::string> held = {})
        : TLoopbackFeeds([](const std::string& name, int) { return FeedDocument(name); }, std::move(held)) {}
};

// A catalogue in a temporary data folder and its window, whose page shows the item titles.
struct TNewsFixture : TWindowTestBase {
    TFeedListItem* Add(const std::string& parentId, const std::string& name, const std::string& url,
                       bool aggInclude) {
        TFeedListItem* item = Feeds.Add(parentId, name, url);
        item->AggInclude = aggInclude;
        return item;
    }
    std::string Page() const { return Dir.Read("gen.html"); }
    bool HasCache(const TFeedListItem* item) const {
        return QFile::exists(QString::fromStdString(CacheFileName(item->FeedID)));
    }
    std::string Cache(const TFeedListItem* item) const {
        QFile file(QString::fromStdString(CacheFileName(item->FeedID)));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }
    // The names of the catalogue entries whose RefreshMark is set, in catalogue order.
    QStringList Marked() const {
        QStringList names;
        for (const auto& item : Feeds.Items)
            if (item->RefreshMark)
                names << QString::fromStdString(item->FeedName);
        return names;
    }
    // The documents whose items the page lists, by the name in their item's title, sorted.
    QStringList Shown() const {
        static const QRegularExpression itemTitle("<p>item-([^<]*)</p>");
        QStringList names;
        auto matches = itemTitle.globalMatch(QString::fromStdString(Page()));
        while (matches.hasNext())
            names << matches.next().captured(1);
        names.sort();
        return names;
    }
};

} // namespace

class MainFormNewsTest : public QObject {
    Q_OBJECT

private slots:
    // A selected folder (or All Feeds) takes its direct children that have AggInclude; below
    // them only what sits in aggregated folders.
    void selectionMarksTheAggregatedEntries() {
        TFeedServer server;
        TNewsFixture f;
        f.Add("root", "top", server.Url("top"), true);
        f.Add("root", "topOff", server.Url("topOff"), false);
        TFeedListItem* on = f.Add("root", "FolderOn", "", true);
        f.Add(on->FeedID, "inner", server.Url("inner"), true);
        f.Add(on->FeedID, "innerOff", server.Url("innerOff"), false);
        TFeedListItem* sub = f.Add(on->FeedID, "SubOff", "", false);
        f.Add(sub->FeedID, "deep", server.Url("deep"), true);
        TFeedListItem* off = f.Add("root", "FolderOff", "", false);
        f.Add(off->FeedID, "child", server.Url("child"), true);
        f.Add(off->FeedID, "childOff", server.Url("childOff"), false);
        f.Open();

        const auto selectAndWait = [&f](QTreeWidgetItem* node) {
            QVERIFY(node);
            f.Form->tvwFeeds->setCurrentItem(node);
            QVERIFY(f.Form->Refreshing());
            QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 20000);
            QCOMPARE(f.Browser()->Path.toStdString(), f.Dir.File("gen.html"));
        };

        // A folder without AggInclude selected directly shows its own aggregated feeds.
        selectAndWait(f.Node("FolderOff"));
        QCOMPARE(f.Marked(), QStringList({"child"}));
        QCOMPARE(f.Shown(), QStringList({"child"}));

        // An aggregated folder: itself and its aggregated feed; its feed without AggInclude and
        // its sub-folder without AggInclude (with the feed in it) stay out.
        selectAndWait(f.Node("FolderOn"));
        QCOMPARE(f.Marked(), QStringList({"FolderOn", "inner"}));
        QCOMPARE(f.Shown(), QStringList({"inner"}));

        // A feed selected directly is refreshed and shown whatever its AggInclude.
        selectAndWait(f.Node("innerOff"));
        QCOMPARE(f.Marked(), QStringList({"innerOff"}));
        QCOMPARE(f.Shown(), QStringList({"innerOff"}));

        // All Feeds: the aggregated top-level entries, descending only into aggregated folders.
        selectAndWait(f.Form->AllFeedsNode());
        QCOMPARE(f.Marked(), QStringList({"top", "FolderOn", "inner"}));
        QCOMPARE(f.Shown(), QStringList({"inner", "top"}));

        // An aggregated sub-folder selected directly brings in what it holds.
        sub->AggInclude = true;
        f.Form->acnRefresh->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 20000);
        QCOMPARE(f.Marked(), QStringList({"top", "FolderOn", "inner", "SubOff", "deep"}));
        QCOMPARE(f.Shown(), QStringList({"deep", "inner", "top"}));
        QVERIFY(f.Messages.Shown.empty());
    }

    // Stop ends the refresh at once with the page of the marked feeds as it has changed; what
    // arrived before it stays, what had not arrived is dropped, also when it comes later.
    void stopEndsTheRefreshOnce() {
        TFeedServer server({"held"});
        TNewsFixture f;
        TFeedListItem* folder = f.Add("root", "Folder", "", true);
        TFeedListItem* quick = f.Add(folder->FeedID, "quick", server.Url("quick"), true);
        TFeedListItem* held = f.Add(folder->FeedID, "held", server.Url("held"), true);
        // An earlier document of the held feed, due for a check.
        SaveStringToFile(FeedDocument("held-old"), CacheFileName(held->FeedID));
        f.Open();
        f.Form->show();

        f.Form->tvwFeeds->setCurrentItem(f.Node("Folder"));
        QVERIFY(f.Form->tbnStop->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(f.HasCache(quick) && server.Requested("held"), 20000);
        QVERIFY(f.Form->Refreshing());
        const int loads = f.Browser()->Loads;

        QTest::mouseClick(f.Form->tbnStop, Qt::LeftButton);
        QVERIFY(!f.Form->Refreshing());
        QVERIFY(!f.Form->tbnStop->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(f.Form->StatusPanel0->text().isEmpty());
        QCOMPARE(f.Browser()->Loads, loads + 1);
        QCOMPARE(f.Browser()->Path.toStdString(), f.Dir.File("gen.html"));
        QCOMPARE(f.Marked(), QStringList({"Folder", "quick", "held"}));
        QCOMPARE(f.Shown(), QStringList({"held-old", "quick"}));
        QCOMPARE(TfrmMain::NodeImage(f.Node("held")), 1);

        // The held answer comes after all: it lands nowhere, and nothing ends a second time.
        server.Release();
        QTest::qWait(500);
        QCOMPARE(f.Browser()->Loads, loads + 1);
        QCOMPARE(f.Cache(held), FeedDocument("held-old"));
        QVERIFY(held->ErrorText.empty());
        QCOMPARE(held->RefreshDate, TDateTime(0));
        QCOMPARE(f.Cache(quick), FeedDocument("quick"));
        QVERIFY(quick->ErrorText.empty());
        QVERIFY(!f.Form->tbnStop->isEnabled());
        QCOMPARE(f.Shown(), QStringList({"held-old", "quick"}));

        // Stop with no refresh running changes nothing.
        f.Form->tbnStopClick();
        QCOMPARE(f.Browser()->Loads, loads + 1);
        QVERIFY(f.Messages.Shown.empty());
    }

    // A new selection while a refresh runs ends that refresh first, then shows the new node's
    // page from the cache and again once its refresh has brought something new.
    void aNewSelectionStopsTheRunningRefresh() {
        TFeedServer server({"held"});
        TNewsFixture f;
        f.Add("root", "held", server.Url("held"), true);
        TFeedListItem* other = f.Add("root", "other", server.Url("other"), true);
        f.Open();

        f.Form->tvwFeeds->setCurrentItem(f.Node("held"));
        QTRY_VERIFY_WITH_TIMEOUT(server.Requested("held"), 20000);
        const int loads = f.Browser()->Loads;
        f.Form->tvwFeeds->setCurrentItem(f.Node("other"));
        // The stopped refresh brought nothing to show; the new node's cached page is shown at
        // once, and its refresh runs.
        QCOMPARE(f.Browser()->Loads, loads + 1);
        QVERIFY(f.Form->Refreshing());
        QVERIFY(f.Form->tbnStop->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 20000);
        QCOMPARE(f.Browser()->Loads, loads + 2);
        QVERIFY(f.HasCache(other));
        QCOMPARE(f.Marked(), QStringList({"other"}));
        QCOMPARE(f.Shown(), QStringList({"other"}));
        server.Release();
        QTest::qWait(300);
        QCOMPARE(f.Browser()->Loads, loads + 2);
        QVERIFY(!f.Form->tbnStop->isEnabled());
    }
};

TOVEL_UI_TEST_MAIN(MainFormNewsTest)
#include "MainFormNewsTest.moc"
