// The window's page at once, its refresh on a timer, the settings dialog and the tray, with the
// plain browser and a scripted loopback server.
#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QMenu>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QToolButton>
#include <QTreeWidget>

#include <atomic>
#include <mutex>
#include <set>

#include "FeedServer.h"
#include "LoopbackHttpServer.h"
#include "UiTestSupport.h"
#include "WindowFixture.h"
#include "cache/CacheFiles.h"
#include "platform/Files.h"
#include "platform/TimeZone.h"
#include "ui/ProdInfo.h"
#include "ui/SettingsForm.h"

namespace {

// A feed document whose one undated item is titled "item-<name>-<version>".
std::string Document(const std::string& name, int version) {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + name +
           "</title><item><title>item-" + name + "-" + std::to_string(version) + "</title><guid>" + name +
           std::to_string(version) + "</guid></item></channel></rss>";
}

// Serves Document(name, k + 1) at "/<name>" for its k-th request; a name in held gets no answer
// until Release.
class TServer : public TLoopbackFeeds {
public:
    explicit TServer(std::set<std::string> held = {})
        : TLoopbackFeeds([](const std::string& name, int requests) { return Document(name, requests + 1); },
                         std::move(held)) {}
};

struct TTimerFixture : TWindowTestBase {
    // A feed at the top level whose cache holds Document(name, 1).
    TFeedListItem* Add(const std::string& name, const std::string& url, const std::string& parent = "root") {
        TFeedListItem* item = Feeds.Add(parent, name, url);
        item->AggInclude = true;
        if (!url.empty())
            SaveStringToFile(Document(name, 1), CacheFileName(item->FeedID));
        return item;
    }
    // The item titles of the page, sorted.
    QStringList Shown() const {
        static const QRegularExpression title("<p>item-([^<]*)</p>");
        QStringList names;
        auto matches = title.globalMatch(QString::fromStdString(Dir.Read("gen.html")));
        while (matches.hasNext())
            names << matches.next().captured(1);
        names.sort();
        return names;
    }
    QStringList Marked() const {
        QStringList names;
        for (const auto& item : Feeds.Items)
            if (item->RefreshMark)
                names << QString::fromStdString(item->FeedName);
        return names;
    }
};

} // namespace

class MainFormTimerTest : public QObject {
    Q_OBJECT

private slots:
    // The selection's page comes from the cache before its refresh has brought anything; the
    // refresh's end shows what changed, keeping the place.
    void selectionShowsTheCachedPageAtOnce() {
        TServer server({"slow"});
        TTimerFixture f;
        TFeedListItem* folder = f.Add("Folder", "");
        f.Add("quick", server.Url("quick"), folder->FeedID);
        f.Add("slow", server.Url("slow"), folder->FeedID);
        f.Open();
        const int blank = f.Browser()->Loads;

        f.Form->tvwFeeds->setCurrentItem(f.Node("Folder"));
        QVERIFY(f.Form->Refreshing());
        QCOMPARE(f.Browser()->Loads, blank + 1);
        QVERIFY(!f.Browser()->KeptPlace);
        QCOMPARE(f.Shown(), QStringList({"quick-1", "slow-1"}));

        // The quick feed arrives while the slow one hangs: the page follows within 2 s.
        QTRY_COMPARE_WITH_TIMEOUT(f.Shown(), QStringList({"quick-2", "slow-1"}), 5000);
        QVERIFY(f.Browser()->KeptPlace);
        QVERIFY(f.Form->Refreshing());
        const int loads = f.Browser()->Loads;
        server.Release();
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 10000);
        QCOMPARE(f.Shown(), QStringList({"quick-2", "slow-2"}));
        QCOMPARE(f.Browser()->Loads, loads + 1);
        QVERIFY(f.Browser()->KeptPlace);

        // Nothing new: the page stays as it is.
        f.Form->acnRefresh->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 10000);
        QCOMPARE(f.Browser()->Loads, loads + 1);
        QVERIFY(f.Messages.Shown.empty());
    }

    // The timer's refresh goes over every feed, leaving the marks, the selection and the cursor;
    // the page follows the feeds it shows.
    void timedRefreshWorksOnItsOwnList() {
        TServer server;
        TTimerFixture f;
        TFeedListItem* a = f.Add("a", server.Url("a"));
        f.Add("b", server.Url("b"));
        TFeedListItem* off = f.Add("off", server.Url("off"));
        off->AggInclude = false;
        f.Open();
        f.Form->tvwFeeds->setCurrentItem(f.Node("a"));
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 10000);
        QCOMPARE(f.Shown(), QStringList({"a-2"}));
        // Due again: the timed refresh brings a new document.
        a->RefreshDate = 0;
        const int loads = f.Browser()->Loads;

        f.Form->StartTimedRefresh();
        QVERIFY(f.Form->TimedRefreshing());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(f.Form->tbnStop->isEnabled());
        QCOMPARE(f.Marked(), QStringList({"a"}));
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 10000);
        QCOMPARE(server.Requests("off"), 1);
        QCOMPARE(server.Requests("b"), 1);
        QCOMPARE(server.Requests("a"), 2);
        QCOMPARE(f.Marked(), QStringList({"a"}));
        QCOMPARE(f.Form->tvwFeeds->currentItem(), f.Node("a"));
        QVERIFY(!f.Form->tbnStop->isEnabled());
        QCOMPARE(f.Browser()->Loads, loads + 1);
        QVERIFY(f.Browser()->KeptPlace);
        QCOMPARE(f.Shown(), QStringList({"a-3"}));
    }

    // A user's refresh in progress: the timer skips its turn and leaves that refresh alone.
    void timerFiringWhileARefreshRunsSkipsItsTurn() {
        TServer server({"held"});
        TTimerFixture f;
        f.Add("held", server.Url("held"));
        f.Add("other", server.Url("other"));
        f.Open();
        f.Form->tvwFeeds->setCurrentItem(f.Node("held"));
        QTRY_VERIFY_WITH_TIMEOUT(server.Requests("held") == 1, 10000);
        QVERIFY(QApplication::overrideCursor());

        f.Form->StartTimedRefresh();
        QVERIFY(f.Form->Refreshing());
        QVERIFY(!f.Form->TimedRefreshing());
        QTest::qWait(300);
        QCOMPARE(server.Requests("other"), 0);
        QCOMPARE(server.Requests("held"), 1);
        server.Release();
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 10000);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(f.Shown(), QStringList({"held-2"}));
    }

    // A failed feed's page is its error page, with no refresh of its own; a refresh that mends
    // the feed later shows its news: the timer's at once, a user's refresh of another page
    // (whose marks are that page's) at its end, with this feed's news alone.
    void aFailedFeedsPageFollowsTheRefreshThatMendsIt() {
        TServer server({"late", "held"});
        TTimerFixture f;
        TFeedListItem* bad = f.Add("bad", server.Url("bad"));
        f.Add("other", server.Url("other"));
        TFeedListItem* folder = f.Add("Folder", "");
        TFeedListItem* late = f.Add("late", server.Url("late"), folder->FeedID);
        TFeedListItem* held = f.Add("held", server.Url("held"), folder->FeedID);
        // Failed in an earlier refresh.
        bad->ErrorText = "Unable to open " + server.Url("bad");
        f.Open();
        f.Form->tvwFeeds->setCurrentItem(f.Node("other"));
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 10000);

        f.Form->tvwFeeds->setCurrentItem(f.Node("bad"));
        QVERIFY(!f.Form->Refreshing());
        QVERIFY(f.Dir.Read("gen.html").find("Error: " + bad->ErrorText) != std::string::npos);
        QCOMPARE(server.Requests("bad"), 0);
        const int loads = f.Browser()->Loads;
        // The folder's feeds are not due: the timer brings the failed feed alone.
        late->RefreshDate = held->RefreshDate = Now();
        f.Form->StartTimedRefresh();
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 10000);
        QCOMPARE(server.Requests("bad"), 1);
        QCOMPARE(server.Requests("late"), 0);
        QTRY_COMPARE_WITH_TIMEOUT(f.Shown(), QStringList({"bad-2"}), 5000);
        QCOMPARE(f.Browser()->Loads, loads + 1);
        QCOMPARE(f.Form->tvwFeeds->currentItem(), f.Node("bad"));

        // The folder's refresh waits for both of its feeds; the failed one is selected meanwhile.
        late->RefreshDate = held->RefreshDate = 0;
        late->ErrorText = "Unable to open " + server.Url("late");
        f.Form->tvwFeeds->setCurrentItem(f.Node("Folder"));
        QTRY_VERIFY_WITH_TIMEOUT(server.Requests("late") == 1 && server.Requests("held") == 1, 10000);
        f.Form->tvwFeeds->setCurrentItem(f.Node("late"));
        QVERIFY(f.Form->Refreshing());
        QVERIFY(f.Dir.Read("gen.html").find("Error: " + late->ErrorText) != std::string::npos);
        server.Release();
        QTRY_VERIFY_WITH_TIMEOUT(!f.Form->Refreshing(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(f.Shown(), QStringList({"late-2"}), 5000);
        QCOMPARE(f.Marked(), QStringList({"late"}));
        QVERIFY(f.Messages.Shown.empty());
    }

    // A selection during a timed refresh shows its cached page and starts no refresh; its feeds
    // come with the timed one. Stop stops the timed refresh.
    void selectionDuringATimedRefreshStartsNone() {
        TServer server({"held"});
        TTimerFixture f;
        f.Add("held", server.Url("held"));
        f.Add("quick", server.Url("quick"));
        f.Open();
        f.Form->StartTimedRefresh();
        QTRY_VERIFY_WITH_TIMEOUT(server.Requests("held") == 1 && server.Requests("quick") == 1, 10000);

        f.Form->tvwFeeds->setCurrentItem(f.Node("held"));
        QVERIFY(f.Form->TimedRefreshing());
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(f.Marked(), QStringList({"held"}));
        QCOMPARE(f.Shown(), QStringList({"held-1"}));
        QTest::qWait(300);
        QCOMPARE(server.Requests("held"), 1);

        QTest::mouseClick(f.Form->tbnStop, Qt::LeftButton);
        QVERIFY(!f.Form->Refreshing());
        QVERIFY(!f.Form->TimedRefreshing());
        QVERIFY(!f.Form->tbnStop->isEnabled());
        server.Release();
        QTest::qWait(300);
        QCOMPARE(f.Shown(), QStringList({"held-1"}));
        QCOMPARE(f.Dir.Read("gen.html").find("held-2"), std::string::npos);
        QVERIFY(f.Messages.Shown.empty());
    }

    // The tray's message counts what a timed refresh brought, unless notifications are off; a
    // user's refresh says nothing.
    void newItemsOfATimedRefreshAreSaid() {
        TServer server({"held"});
        TTimerFixture f;
        f.Add("held", server.Url("held"));
        f.Open();
        const auto timed = [&](bool notifications) {
            f.Form->SetNotifications(notifications);
            f.Form->StartTimedRefresh();
            f.Form->NoteNewItems("x", 2);
            f.Form->NoteNewItems("y", 0);
            f.Form->NoteNewItems("z", 1);
            f.Form->NoteNewItems("x", 1);
            f.Form->tbnStopClick();
        };
        timed(false);
        QCOMPARE(f.Form->TrayMessage(), QString());
        timed(true);
        QCOMPARE(f.Form->TrayMessage(), QString("4 new items in 2 feeds"));
        f.Form->SetNotifications(true);
        f.Form->tvwFeeds->setCurrentItem(f.Node("held"));
        f.Form->NoteNewItems("w", 7);
        f.Form->tbnStopClick();
        QCOMPARE(f.Form->TrayMessage(), QString("4 new items in 2 feeds"));
        QVERIFY(f.Form->TrayToolTip().contains("No unread items"));
        server.Release();
    }

    // Settings... stores the interval and the switch, and the timer follows; a cancel keeps them.
    void settingsDialogStoresItsValues() {
        QSettings& settings = Settings();
        settings.remove("RefreshInterval");
        settings.remove("Notifications");
        TTimerFixture f;
        f.Open();
        QCOMPARE(f.Form->RefreshInterval(), 30);
        QVERIFY(f.Form->Notifications());
        QVERIFY(f.Form->miFile->actions().contains(f.Form->miSettings));

        const auto answer = [](int minutes, bool notifications, bool ok) {
            QTimer::singleShot(0, [=] {
                auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                QCOMPARE(dialog->spnInterval->value() >= 0, true);
                dialog->spnInterval->setValue(minutes);
                dialog->chkNotifications->setChecked(notifications);
                ok ? dialog->accept() : dialog->reject();
            });
        };
        answer(0, false, true);
        f.Form->miSettings->trigger();
        QCOMPARE(f.Form->RefreshInterval(), 0);
        QVERIFY(!f.Form->Notifications());
        QCOMPARE(settings.value("RefreshInterval").toInt(), 0);
        QCOMPARE(settings.value("Notifications").toInt(), 0);
        answer(5, true, false);
        f.Form->miSettings->trigger();
        QCOMPARE(f.Form->RefreshInterval(), 0);
        answer(5, true, true);
        f.Form->miSettings->trigger();
        QCOMPARE(f.Form->RefreshInterval(), 5);
        QVERIFY(f.Form->Notifications());
        f.Close();

        // A new window reads them back; a value that is no number gives the default.
        TTimerFixture g;
        g.Open();
        QCOMPARE(g.Form->RefreshInterval(), 5);
        g.Close();
        settings.setValue("RefreshInterval", "soon");
        TTimerFixture h;
        h.Open();
        QCOMPARE(h.Form->RefreshInterval(), 30);
        settings.remove("RefreshInterval");
        settings.remove("Notifications");
    }
};

TOVEL_UI_TEST_MAIN(MainFormTimerTest)
#include "MainFormTimerTest.moc"
