// The reader as a whole: the main window with the real web view, refreshing feeds from a private
// nginx on loopback, and a scripted server that holds a refresh up.
#include "ui/MainForm.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <unistd.h>

#include <ctime>
#include <memory>

#include "LoopbackHttpServer.h"
#include "NginxFixture.h"
#include "UiTestSupport.h"
#include "cache/CacheFiles.h"
#include "news/NewsTypeCls.h"
#include "platform/Files.h"
#include "platform/TimeZone.h"
#include "refresh/FeedsRefresh.h"
#include "store/ItemStore.h"
#include "ui/FeedForm.h"
#include "ui/NewsView.h"

namespace {

// Long enough for a slow machine to start the browser; a wait that ends early is no failure.
constexpr int kWaitMs = 20000;

// A moment hoursAgo hours before now, in the given strftime format (UTC).
std::string HoursAgo(int hoursAgo, const char* format) {
    const std::time_t when = std::time(nullptr) - hoursAgo * 3600;
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[64];
    std::strftime(text, sizeof text, format, &utc);
    return text;
}
std::string Rfc822(int hoursAgo) {
    return HoursAgo(hoursAgo, "%a, %d %b %Y %H:%M:%S GMT");
}
std::string Iso(int hoursAgo) {
    return HoursAgo(hoursAgo, "%Y-%m-%dT%H:%M:%SZ");
}

const char* const kLinkURL = "http://127.0.0.1:9/story?id=7";

} // namespace

class NewsRefreshTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> Dir;
    std::unique_ptr<ScopedDataFolder> Data;
    std::unique_ptr<TScriptedMessages> Messages;
    std::unique_ptr<NginxFixture> Nginx;
    std::unique_ptr<LoopbackHttpServer> Silent;
    // Where the meta refresh of a description points: it must never be asked for anything.
    std::unique_ptr<LoopbackHttpServer> Away;
    std::unique_ptr<TFeedList> Feeds;
    std::unique_ptr<TfrmMain> Form;
    std::unique_ptr<TfrmFeed> Dialog;
    std::vector<QUrl> Opened;
    int Loads = 0;

    void OpenWindow() {
        Form = std::make_unique<TfrmMain>(*Feeds, nullptr, CreateNewsView);
        Dialog = std::make_unique<TfrmFeed>(Form.get());
        Form->SetFeedDialog(Dialog.get());
        Form->NewsView()->OpenExternally = [this](const QUrl& url) { Opened.push_back(url); };
        connect(Form->NewsView(), &TNewsView::LoadFinished, this, [this](bool ok) { Loads += ok ? 1 : 0; });
        Form->show();
    }
    void CloseWindow() {
        Dialog.reset();
        Form.reset();
    }

    QTreeWidgetItem* Node(const QString& text) const { return FindNode(*Form->tvwFeeds, text); }
    // The requests nginx has logged for one feed path.
    int Requests(const std::string& path) const {
        const std::string log = ReadFileToString(Nginx->Root() + "../access.log");
        int count = 0;
        for (size_t at = log.find(" " + path + " "); at != std::string::npos;
             at = log.find(" " + path + " ", at + 1))
            ++count;
        return count;
    }
    int FeedRequests() const {
        return Requests("/rss.xml") + Requests("/rdf.xml") + Requests("/atom.xml") + Requests("/missing.xml");
    }
    std::string Page() const { return ReadFileToString(FNewsPagePath); }
    QString PageText() {
        QString text;
        bool done = false;
        Form->NewsView()->WebView()->page()->toPlainText([&](const QString& value) {
            text = value;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, kWaitMs))
            qWarning() << "no page text";
        return text;
    }
    QVariant Evaluate(const QString& script) {
        QVariant result;
        bool done = false;
        Form->NewsView()->WebView()->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                                                           [&](const QVariant& value) {
                                                               result = value;
                                                               done = true;
                                                           });
        if (!QTest::qWaitFor([&] { return done; }, kWaitMs))
            qWarning() << "no answer to" << script;
        return result;
    }
    bool ShowsGenPage() const {
        return Form->NewsView()->Url() == QUrl::fromLocalFile(QString::fromStdString(FNewsPagePath));
    }
    // No refresh runs and the view has shown the last page asked for: what the test reads of
    // the page now stays until its next step.
    bool Settled() const { return !Form->Refreshing() && !Form->NewsView()->Loading(); }

    std::string FNewsPagePath;

private slots:
    void initTestCase() {
        if (!NginxFixture::Available())
            QSKIP("nginx is not installed");
        Dir = std::make_unique<TempDir>();
        Data = std::make_unique<ScopedDataFolder>(Dir->Path());
        Messages = std::make_unique<TScriptedMessages>();
        ForceDirectories(Dir->File("template"));
        for (const char* name : {"top.html", "item.html", "bottom.html"})
            Dir->Write(std::string("template/") + name,
                       ReadFileToString(std::string(TOVEL_TEMPLATE_DIR) + "/" + name));
        Away = LoopbackHttpServer::Replying("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        Nginx = std::make_unique<NginxFixture>();
        QVERIFY2(Nginx->Start(), Nginx->Error().c_str());
        Nginx->WriteFile(
            "rss.xml", "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>R</title>"
                       "<item><title>Rss newest</title><link>http://127.0.0.1:9/r1</link><pubDate>" +
                           Rfc822(1) + "</pubDate><description>&lt;p&gt;Read &lt;a id=\"story\" href=\"" +
                           kLinkURL +
                           "\"&gt;the story&lt;/a&gt; &lt;img src=\"http://127.0.0.1:9/p.png\"&gt;&lt;/p&gt;"
                           "</description></item>"
                           "<item><title>Rss oldest</title><link>http://127.0.0.1:9/r2</link><pubDate>" +
                           Rfc822(4) +
                           "</pubDate><description>&lt;meta http-equiv=\"refresh\" "
                           "content=\"0; url=" +
                           Away->Url("/away") +
                           "\"&gt;Stay here</description></item>"
                           "</channel></rss>");
        Nginx->WriteFile(
            "rdf.xml",
            "<?xml version=\"1.0\"?><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
            "xmlns=\"http://purl.org/rss/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
            "<channel><title>D</title></channel>"
            "<item><title>Rdf third</title><link>http://127.0.0.1:9/d1</link><dc:date>" +
                Iso(3) + "</dc:date><description>rdf</description></item></rdf:RDF>");
        Nginx->WriteFile("atom.xml", "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\">"
                                     "<title>A</title><entry><title>Atom second</title>"
                                     "<link href=\"http://127.0.0.1:9/a1\"/><published>" +
                                         Iso(2) + "</published><content>atom</content></entry></feed>");
        Silent = LoopbackHttpServer::Silent();

        Feeds = std::make_unique<TFeedList>(Dir->File("feeds.data"));
        TFeedListItem* folder = Feeds->Add("root", "News", "");
        folder->AggInclude = true;
        for (const char* name : {"rss", "rdf", "atom", "missing"})
            Feeds
                ->Add(folder->FeedID, std::string(name) + " feed",
                      Nginx->Url(std::string("/") + name + ".xml"))
                ->AggInclude = true;
        Feeds->Add("root", "Slow", Silent->Url("/slow.xml"))->AggInclude = false;
        // Six feeds, five of them in the cache and served as cached, one on the silent server.
        TFeedListItem* cached = Feeds->Add("root", "Cached", "");
        cached->AggInclude = false;
        for (int i = 1; i <= 5; ++i) {
            const std::string name = "cached" + std::to_string(i);
            const std::string document =
                "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>C</title>"
                "<item><title>Cached item " +
                std::to_string(i) + "</title><guid>c" + std::to_string(i) + "</guid></item></channel></rss>";
            Nginx->WriteFile(name + ".xml", document);
            TFeedListItem* feed = Feeds->Add(cached->FeedID, name, Nginx->Url("/" + name + ".xml"));
            feed->AggInclude = true;
            SaveStringToFile(document, CacheFileName(feed->FeedID));
        }
        Feeds->Add(cached->FeedID, "cached hung", Silent->Url("/hung.xml"))->AggInclude = true;
        OpenWindow();
        FNewsPagePath = Dir->File("gen.html");
    }

    void cleanupTestCase() {
        CloseWindow();
        Silent.reset();
        Away.reset();
    }

    void folderShowsItsThreeFeedsNewestFirst() {
        Form->tvwFeeds->setCurrentItem(Node("News"));
        QVERIFY(Form->Refreshing());
        QVERIFY(Form->tbnStop->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(Settled() && ShowsGenPage() && Loads > 0, kWaitMs);
        QVERIFY(!Form->tbnStop->isEnabled());
        QVERIFY(Form->StatusPanel0->text().isEmpty());
        QString text;
        QTRY_VERIFY_WITH_TIMEOUT((text = PageText()).contains("Stay here"), kWaitMs);
        const qsizetype a = text.indexOf("Rss newest"), b = text.indexOf("Atom second"),
                        c = text.indexOf("Rdf third"), d = text.indexOf("Rss oldest");
        QVERIFY2(a >= 0 && a < b && b < c && c < d, qPrintable(text));
        // The failed feed shows image 2 and says why.
        QTreeWidgetItem* missing = Node("missing feed");
        QCOMPARE(TfrmMain::NodeImage(missing), 2);
        QCOMPARE(missing->toolTip(0),
                 PlainToolTip(QString::fromStdString("Unable to open " + Nginx->Url("/missing.xml"))));
        QCOMPARE(TfrmMain::NodeImage(Node("rss feed")), 1);
        QVERIFY(missing->toolTip(0).size() > 0 && Node("rss feed")->toolTip(0).isEmpty());
    }

    void failedFeedShowsItsErrorPageWithoutARequest() {
        const int before = Requests("/missing.xml");
        const int loads = Loads;
        Form->tvwFeeds->setCurrentItem(Node("missing feed"));
        QVERIFY(!Form->Refreshing());
        QTRY_VERIFY_WITH_TIMEOUT(Settled() && Loads > loads, kWaitMs);
        const std::string url = Nginx->Url("/missing.xml");
        QCOMPARE(QString::fromStdString(Page()),
                 QString::fromStdString("<html><body><font face=\"arial\" color=\"red\">\r\n"
                                        "Error: Unable to open " +
                                        url + "\r\n</font></body></html>\r\n"));
        QCOMPARE(PageText().trimmed(), QString::fromStdString("Error: Unable to open " + url));
        QCOMPARE(Requests("/missing.xml"), before);
    }

    void f5RetriesTheFailedFeed() {
        const int before = Requests("/missing.xml");
        QTest::keyClick(Form->tvwFeeds, Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(Settled() && Requests("/missing.xml") == before + 1, kWaitMs);
        QVERIFY(Page().find("Error: Unable to open") != std::string::npos);
    }

    void filterAndPicturesRenderFromMemory() {
        Form->tvwFeeds->setCurrentItem(Node("rss feed"));
        QTRY_VERIFY_WITH_TIMEOUT(Settled() && Page().find("Rss newest") != std::string::npos, kWaitMs);
        const int requests = FeedRequests();
        int loads = Loads;
        Form->cbxNewsFilter->setCurrentIndex(0);
        emit Form->cbxNewsFilter->activated(0);
        QTRY_VERIFY_WITH_TIMEOUT(Settled() && Loads > loads, kWaitMs);
        // "Last day" still holds both items of the feed (1 and 4 hours old).
        QVERIFY(Page().find("Rss oldest") != std::string::npos);
        QVERIFY(Page().find("p.png") == std::string::npos);
        loads = Loads;
        Form->tbnShowPictures->click();
        QTRY_VERIFY_WITH_TIMEOUT(Settled() && Loads > loads, kWaitMs);
        QVERIFY(Page().find("src=\"http://127.0.0.1:9/p.png\"") != std::string::npos);
        QCOMPARE(FeedRequests(), requests);
    }

    void shiftReleaseOnRefreshDownloadsAgain() {
        const int before = Requests("/rss.xml");
        const QPoint centre = Form->tbnRefresh->rect().center();
        QTest::mouseRelease(Form->tbnRefresh, Qt::LeftButton, Qt::NoModifier, centre);
        QTRY_VERIFY_WITH_TIMEOUT(Settled(), kWaitMs);
        QCOMPARE(Requests("/rss.xml"), before); // checked minutes ago: nothing to fetch
        QTest::mouseRelease(Form->tbnRefresh, Qt::LeftButton, Qt::ShiftModifier, centre);
        QTRY_VERIFY_WITH_TIMEOUT(Settled() && Requests("/rss.xml") == before + 1, kWaitMs);
        // F5 keeps forcing until the selection changes.
        Form->acnRefresh->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(Settled() && Requests("/rss.xml") == before + 2, kWaitMs);
    }

    void descriptionsCannotMoveTheViewAndLinksOpenOutside() {
        QTRY_VERIFY_WITH_TIMEOUT(Settled() && ShowsGenPage(), kWaitMs);
        // The meta refresh never reaches the page: the page's HTML is cleaned of it.
        QVERIFY(Page().find("Stay here") != std::string::npos);
        QVERIFY(Page().find("refresh") == std::string::npos);
        QVERIFY(Page().find(Away->Url("/away")) == std::string::npos);
        const QVariantList box =
            Evaluate(QString("(function() { const r = document.querySelector('a[href=\"") + kLinkURL +
                     "\"]').getBoundingClientRect(); return [r.left + 3, r.top + "
                     "r.height / 2]; })()")
                .toList();
        QCOMPARE(box.size(), 2);
        const QPoint at(box[0].toInt(), box[1].toInt());
        QWidget* target = Form->NewsView()->WebView()->focusProxy();
        QVERIFY(target);
        QTest::mouseMove(target, at);
        QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, at);
        QTRY_VERIFY_WITH_TIMEOUT(!Opened.empty(), kWaitMs);
        QCOMPARE(Opened.back(), QUrl(kLinkURL));
        // Neither the click nor the meta refresh took the view anywhere.
        QVERIFY(ShowsGenPage());
        const QString after = PageText();
        QVERIFY2(after.contains("Stay here"), qPrintable(after));
        QVERIFY(Away->Requests().empty());
        QCOMPARE(Away->Connections(), 0);
    }

    // A folder whose one server never answers shows its cached items at once, while the refresh
    // still waits for that server.
    void folderShowsItsCachedPageWhileAServerHangs() {
        QElapsedTimer clock;
        int loaded = Loads;
        QSignalSpy finished(Form->NewsView(), &TNewsView::LoadFinished);
        clock.start();
        Form->tvwFeeds->setCurrentItem(Node("Cached"));
        QVERIFY(finished.wait(kWaitMs));
        const qint64 ms = clock.elapsed();
        QVERIFY(Form->Refreshing());
        QVERIFY(Loads > loaded);
        QVERIFY(ShowsGenPage());
        // The DOM's text: items off screen are not laid out, so the page's visible text lacks them.
        const QString text = Evaluate("document.body.textContent").toString();
        for (int i = 1; i <= 5; ++i)
            QVERIFY2(text.contains(QString("Cached item %1").arg(i)), qPrintable(text));
        QVERIFY(Form->Refreshing());
        qInfo("From the click to the cached page: %lld ms", static_cast<long long>(ms));
        Form->tbnStopClick();
        QVERIFY(!Form->Refreshing());
        QTRY_VERIFY_WITH_TIMEOUT(Settled(), kWaitMs);
    }

    void selectingDuringAHeldRefreshGivesTheOldWorkerUp() {
        Form->tvwFeeds->setCurrentItem(Node("Slow"));
        QVERIFY(Form->Refreshing());
        QTRY_VERIFY_WITH_TIMEOUT(Silent->Connections() > 0, kWaitMs);
        Form->tvwFeeds->setCurrentItem(Node("atom feed"));
        QTRY_VERIFY_WITH_TIMEOUT(Settled() && ShowsGenPage(), kWaitMs);
        const QString text = PageText();
        QVERIFY2(text.contains("Atom second") && !text.contains("Rss newest"), qPrintable(text));
        QVERIFY(Node("Slow")->toolTip(0).isEmpty());
    }

    // The program's end: the view's answer about what it has seen comes after the event loop has
    // ended, and the items of the page just shown are read all the same.
    void itemsOnScreenAtTheEndAreRead() {
        TItemStore store;
        store.Open(Dir->File("items.db"));
        std::vector<std::string> cached;
        for (const auto& item : Feeds->Items)
            if (item->FeedName.rfind("cached", 0) == 0 && item->FeedName != "cached hung") {
                cached.push_back(item->FeedID);
                store.RecordDocument(item->FeedID, {{"c" + item->FeedName.substr(6), 0}}, NowUTC());
            }
        QCOMPARE(cached.size(), size_t(5));
        Form->SetItemStore(&store);
        QCOMPARE(Form->UnreadTotal(), 5);
        QSignalSpy finished(Form->NewsView(), &TNewsView::LoadFinished);
        Form->tvwFeeds->setCurrentItem(Node("Cached"));
        QVERIFY(finished.wait(kWaitMs));
        Form->tbnStopClick();
        QTRY_VERIFY_WITH_TIMEOUT(Settled(), kWaitMs);

        QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); });
        QCoreApplication::exec();
        QVERIFY(Form->WaitForItemStore());
        for (const std::string& feedId : cached)
            QCOMPARE(store.UnreadIds(feedId), std::vector<std::string>());
        QCOMPARE(Form->UnreadTotal(), 0);
        // What the store was still to write is written before it goes.
        Form->SetItemStore(nullptr);
    }

    void settingsSurviveClosingAndReopening() {
        Form->cbxNewsFilter->setCurrentIndex(5);
        const bool pictures = Form->tbnShowPictures->isChecked();
        CloseWindow();
        OpenWindow();
        QCOMPARE(Form->cbxNewsFilter->currentIndex(), 5);
        QCOMPARE(Form->tbnShowPictures->isChecked(), pictures);
        QVERIFY(!Form->Refreshing());
        QVERIFY(!ShowsGenPage());
        QVERIFY(Messages->Shown.empty());
    }
};

TOVEL_UI_TEST_MAIN(NewsRefreshTest)
#include "NewsRefreshTest.moc"
