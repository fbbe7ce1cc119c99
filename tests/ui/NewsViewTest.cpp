#include "ui/NewsView.h"

#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "LoopbackHttpServer.h"
#include "TempDir.h"
#include "UiTestSupport.h"
#include "catalogue/FeedListCls.h"
#include "news/NewsTypeCls.h"
#include "platform/Files.h"
#include "ui/OleDrop.h"

namespace {

// Long enough for a slow machine to start the browser; a wait that ends early is no failure.
constexpr int kWaitMs = 30000;

// One link of every kind, each in a paragraph of its own. (No raw string: moc cannot read one here.)
const char* const kLinks =
    "<html><body>\n"
    "<p><a id=\"blank\" target=\"_blank\" rel=\"noopener noreferrer\" "
    "href=\"http://127.0.0.1:9/news?id=1\">news</a></p>\n"
    "<p><a id=\"secure\" target=\"_blank\" href=\"https://127.0.0.1:9/secure\">secure</a></p>\n"
    "<p><a id=\"mail\" target=\"_blank\" href=\"mailto:editor@example.com\">mail</a></p>\n"
    "<p><a id=\"file\" target=\"_blank\" href=\"file:///etc/passwd\">file</a></p>\n"
    "<p><a id=\"custom\" target=\"_blank\" href=\"tovel-test-scheme:run\">custom</a></p>\n"
    "<p><a id=\"plain\" href=\"http://127.0.0.1:9/plain\">plain</a></p>\n"
    "</body></html>\n";

// A page that asks for one thing of every kind from base ("http://127.0.0.1:port"): a stylesheet,
// an @import, a font used by an attribute selector on a link (the spy that reads the page's
// links), prefetch and preload, media, a frame, an object, pictures in src, srcset, poster and
// a CSS background, a favicon, and local files.
std::string HostilePage(const std::string& base) {
    return "<html><head>"
           "<link rel=stylesheet href=" +
           base +
           "/style.css>"
           "<style>@import url(" +
           base +
           "/import.css);"
           "@font-face { font-family: spy; src: url(" +
           base +
           "/font.woff); }"
           "a[href*=secret] { font-family: spy; }"
           ".bg { background-image: url(" +
           base +
           "/background.png); }</style>"
           "<link rel=prefetch href=" +
           base +
           "/prefetch>"
           "<link rel=preload href=" +
           base +
           "/preload.css as=style>"
           "<link rel=preconnect href=" +
           base +
           "/>"
           "<link rel=icon href=" +
           base +
           "/favicon.ico>"
           "</head><body>"
           "<p><a href=http://127.0.0.1:9/secret>secret</a></p><div class=bg>background</div>"
           "<video src=" +
           base + "/video.mp4></video><audio src=" + base +
           "/audio.mp3 autoplay></audio>"
           "<iframe src=" +
           base +
           "/frame.html></iframe>"
           "<object data=" +
           base + "/object.swf></object><embed src=" + base +
           "/embed.swf>"
           "<img src=" +
           base + "/img.png><img srcset=\"" + base +
           "/srcset.png 1x\">"
           "<video poster=" +
           base +
           "/poster.png></video>"
           "<img src=file:///etc/hostname><link rel=stylesheet href=file:///etc/hostname>"
           "<p>hostile</p></body></html>";
}

// The paths a server was asked for, from its request lines.
std::vector<std::string> RequestedPaths(const LoopbackHttpServer& server) {
    std::vector<std::string> paths;
    for (const std::string& request : server.Requests()) {
        const size_t start = request.find(' ');
        const size_t end = request.find(' ', start + 1);
        if (start != std::string::npos && end != std::string::npos)
            paths.push_back(request.substr(start + 1, end - start - 1));
    }
    return paths;
}

std::unique_ptr<LoopbackHttpServer> CountingServer() {
    return LoopbackHttpServer::Replying(
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

} // namespace

class NewsViewTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> Temp;
    std::unique_ptr<TNewsView> View;
    std::vector<QUrl> Opened;

    QString Write(const std::string& name, const std::string& body) {
        return QString::fromStdString(Temp->Write(name, body));
    }

    // Navigates and waits for the view's own load to finish.
    bool Show(const QString& path) {
        QSignalSpy finished(View.get(), &TNewsView::LoadFinished);
        View->Navigate(path);
        return finished.wait(kWaitMs);
    }

    static int SuccessfulLoads(const QSignalSpy& finished) {
        return static_cast<int>(std::count_if(finished.begin(), finished.end(),
                                              [](const QList<QVariant>& args) { return args[0].toBool(); }));
    }

    // Runs a script in the application's own world, which runs with the page's scripts off.
    QVariant Evaluate(const QString& script) {
        QVariant result;
        bool done = false;
        View->WebView()->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                                               [&](const QVariant& value) {
                                                   result = value;
                                                   done = true;
                                               });
        if (!QTest::qWaitFor([&] { return done; }, kWaitMs))
            qWarning() << "no answer to" << script;
        return result;
    }

    QString PageText() {
        QString text;
        bool done = false;
        View->WebView()->page()->toPlainText([&](const QString& value) {
            text = value;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, kWaitMs))
            qWarning() << "no page text";
        return text.trimmed();
    }

    // Where an element of the page lies in the view, a little inside its left edge.
    QPoint PositionOf(const QString& id) {
        const QVariantList box =
            Evaluate("(function() { const r = document.getElementById('" + id +
                     "').getBoundingClientRect(); return [r.left + 3, r.top + r.height / 2]; "
                     "})()")
                .toList();
        return box.size() == 2 ? QPoint(box[0].toInt(), box[1].toInt()) : QPoint(-1, -1);
    }

    // A real left click on the element, as the user's mouse gives it.
    void Click(const QString& id) {
        const QPoint at = PositionOf(id);
        QVERIFY2(at.x() >= 0, qPrintable(id));
        QWidget* target = View->WebView()->focusProxy();
        QVERIFY(target);
        QTest::mouseMove(target, at);
        QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, at);
    }

    // Requests after the load has ended (a favicon, a preload) have this long to show up.
    static void Settle() { QTest::qWait(1500); }

    // A page of items, each 300 pixels high, wrapped as the renderer wraps them: place K, the key
    // of number n (16 hex digits), a link to http://127.0.0.1:9/n.
    static std::string ItemsPage(int first, int count) {
        std::string page = "<html><body style=\"margin:0\">";
        for (int k = 0; k < count; ++k) {
            char key[17];
            std::snprintf(key, sizeof key, "%016x", first + k);
            page += "<div data-item=\"" + std::to_string(k) + "\" data-key=\"" + key +
                    "\"><div style=\"height:300px\"><a id=\"a" + std::to_string(first + k) +
                    "\" href=\"http://127.0.0.1:9/" + std::to_string(first + k) + "\">item " +
                    std::to_string(first + k) + "</a></div></div>";
        }
        return page + "</body></html>";
    }
    // The number of the item at the top of the view (its key), and its distance from the top.
    QVariantList TopItem() {
        return Evaluate("(function () { var items = document.querySelectorAll('[data-key]');"
                        "for (var i = 0; i < items.length; ++i) { var r = items[i].getBoundingClientRect();"
                        "if (r.bottom > 0) return [parseInt(items[i].getAttribute('data-key'), 16), r.top]; }"
                        "return [-1, 0]; })()")
            .toList();
    }
    std::vector<int> Seen() {
        std::vector<int> seen;
        bool done = false;
        View->TakeSeenItems([&](std::vector<int> items) {
            seen = std::move(items);
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, kWaitMs))
            qWarning() << "no seen items";
        return seen;
    }

private slots:
    void init() {
        Temp = std::make_unique<TempDir>();
        Opened.clear();
        View = std::make_unique<TNewsView>();
        View->resize(800, 600);
        View->OpenExternally = [this](const QUrl& url) { Opened.push_back(url); };
        View->show();
        QVERIFY(QTest::qWaitForWindowExposed(View.get()));
    }

    void cleanup() {
        View.reset();
        Temp.reset();
    }

    void ADropOverTheViewReachesTheWindowsDropTarget() {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* view = new TNewsView(&window);
        layout->addWidget(view);
        window.resize(600, 400);
        TDropTarget target;
        std::vector<std::string> dropped;
        target.OnDropText = [&](TDropTarget&, const std::string& text, const QPoint&) {
            dropped.push_back(text);
        };
        target.RegisterWindow(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy finished(view, &TNewsView::LoadFinished);
        view->Navigate(Write("gen.html", "<html><body>news</body></html>"));
        QVERIFY(finished.wait(kWaitMs));
        // The widget the browser renders into exists once a page is shown.
        QVERIFY(view->WebView()->focusProxy());

        // As the platform delivers a drag: to the window, which looks for the widget under the
        // point that takes drops.
        QMimeData data;
        data.setText("http://127.0.0.1/feed.xml");
        const QPoint at = view->mapTo(&window, view->rect().center());
        const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragMoveEvent move(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.windowHandle(), &move);
        QVERIFY(move.isAccepted());
        QCOMPARE(move.dropAction(), Qt::CopyAction);
        QDropEvent drop(QPointF(at), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.windowHandle(), &drop);
        QVERIFY(drop.isAccepted());
        QTRY_COMPARE(dropped, std::vector<std::string>({"http://127.0.0.1/feed.xml"}));
    }

    // A new render keeps the item at the top of the view in its place, also when new items come
    // before it; without keepPlace the page starts at its top.
    void ANewRenderKeepsTheItemAtTheTop() {
        const QString page = Write("gen.html", ItemsPage(100, 60));
        QVERIFY(Show(page));
        Evaluate("window.scrollTo(0, 40 * 300 + 120)");
        QTRY_COMPARE_WITH_TIMEOUT(TopItem().value(0).toInt(), 140, kWaitMs);
        // What has been on screen since the load: the items at the place scrolled to.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const std::vector<int> seen = Seen();
                return std::find(seen.begin(), seen.end(), 40) != seen.end() &&
                       std::find(seen.begin(), seen.end(), 41) != seen.end() &&
                       std::find(seen.begin(), seen.end(), 20) == seen.end();
            }(),
            kWaitMs);

        // Seven new items above it: item 140 is now at place 47, and stays at the top.
        Write("gen.html", ItemsPage(93, 70));
        QSignalSpy finished(View.get(), &TNewsView::LoadFinished);
        View->Navigate(page, true);
        QVERIFY(finished.wait(kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(TopItem().value(0).toInt(), 140, kWaitMs);
        QTest::qWait(300);
        const QVariantList top = TopItem();
        QCOMPARE(top.value(0).toInt(), 140);
        QVERIFY2(std::abs(top.value(1).toDouble() + 120) < 2, qPrintable(top.value(1).toString()));

        // Item 140 gone: the next one of the old page takes its place.
        Write("gen.html", ItemsPage(141, 20));
        View->Navigate(page, true);
        QVERIFY(finished.wait(kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(TopItem().value(0).toInt(), 141, kWaitMs);

        Write("gen.html", ItemsPage(100, 60));
        View->Navigate(page);
        QVERIFY(finished.wait(kWaitMs));
        QTest::qWait(300);
        QCOMPARE(TopItem().value(0).toInt(), 100);
    }

    // Following an item's link names its place.
    void OpeningAnItemsLinkNamesTheItem() {
        std::vector<int> opened;
        View->ItemOpened = [&](int item) { opened.push_back(item); };
        QVERIFY(Show(Write("gen.html", ItemsPage(0, 3))));
        Click("a1");
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), size_t(1), kWaitMs);
        QCOMPARE(opened[0], 1);
        QCOMPARE(Opened.size(), size_t(1));
        QCOMPARE(Opened[0], QUrl("http://127.0.0.1:9/1"));
    }

    void StartsBlankWithScriptsPluginsAndLocalFilesOff() {
        QTRY_COMPARE_WITH_TIMEOUT(View->Url(), QUrl("about:blank"), kWaitMs);
        QWebEngineSettings* settings = View->WebView()->page()->settings();
        QVERIFY(!settings->testAttribute(QWebEngineSettings::JavascriptEnabled));
        QVERIFY(!settings->testAttribute(QWebEngineSettings::PluginsEnabled));
        QVERIFY(settings->testAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls));
        QVERIFY(!settings->testAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls));

        View->SetPicturesShown(false);
        QVERIFY(!settings->testAttribute(QWebEngineSettings::AutoLoadImages));
        View->SetPicturesShown(true);
        QVERIFY(settings->testAttribute(QWebEngineSettings::AutoLoadImages));

        // A script in the page does not run: the title stays as written.
        QVERIFY(Show(Write("gen.html", "<html><head><title>before</title></head><body>"
                                       "<script>document.title = 'after';</script>text</body></html>")));
        QCOMPARE(View->WebView()->page()->title(), QString("before"));
    }

    void ShowsTheFileAnewAtEveryNavigateAndBlankAgain() {
        const QString page = Write("gen.html", "<html><body>first</body></html>");
        QVERIFY(Show(page));
        QCOMPARE(View->Url(), QUrl::fromLocalFile(page));
        QCOMPARE(PageText(), QString("first"));

        Write("gen.html", "<html><body>second</body></html>");
        QVERIFY(Show(page));
        QCOMPARE(PageText(), QString("second"));

        QVERIFY(Show("about:blank"));
        QCOMPARE(View->Url(), QUrl("about:blank"));
        QCOMPARE(PageText(), QString());
    }

    void AMetaRefreshInADescriptionDoesNotLeaveThePage() {
        const QString elsewhere = Write("elsewhere.html", "<html><body>elsewhere</body></html>");
        const QString page =
            Write("gen.html", "<html><body><p>news</p><div><meta http-equiv=\"refresh\" content=\"0; url=" +
                                  QUrl::fromLocalFile(elsewhere).toString().toStdString() +
                                  "\"></div></body></html>");
        QSignalSpy finished(View.get(), &TNewsView::LoadFinished);
        QVERIFY(Show(page));
        // The refresh would fire at once; give it ample time to try.
        QTest::qWait(1500);
        QCOMPARE(View->Url(), QUrl::fromLocalFile(page));
        QCOMPARE(PageText(), QString("news"));
        // The refused refresh is no load of the view's: one end, a successful one.
        QCOMPARE(SuccessfulLoads(finished), 1);
        QCOMPARE(finished.count(), 1);
    }

    void FollowedLinksGoToTheDefaultBrowserAndNeverIntoTheView() {
        const QString page = Write("gen.html", kLinks);
        QVERIFY(Show(page));

        // A file: or custom-scheme link goes nowhere; the http link clicked after them shows that
        // the clicks before it have been dealt with.
        Click("file");
        Click("custom");
        Click("blank");
        QVERIFY(QTest::qWaitFor([&] { return !Opened.empty(); }, kWaitMs));
        QCOMPARE(Opened.size(), 1u);
        QCOMPARE(Opened[0], QUrl("http://127.0.0.1:9/news?id=1"));

        // https and mailto leave too, and so does a link without a target of its own.
        Click("secure");
        Click("mail");
        Click("plain");
        QVERIFY(QTest::qWaitFor([&] { return Opened.size() >= 4; }, kWaitMs));
        QCOMPARE(Opened.size(), 4u);
        QCOMPARE(Opened[1], QUrl("https://127.0.0.1:9/secure"));
        QCOMPARE(Opened[2], QUrl("mailto:editor@example.com"));
        QCOMPARE(Opened[3], QUrl("http://127.0.0.1:9/plain"));

        QCOMPARE(View->Url(), QUrl::fromLocalFile(page));
        QVERIFY(PageText().startsWith("news"));
    }

    void StatusTextIsHttpLinksAndEmptyTextOnly() {
        QSignalSpy status(View.get(), &TNewsView::StatusTextChange);
        QWebEnginePage* page = View->WebView()->page();
        for (const char* text :
             {"http://127.0.0.1/a", "https://127.0.0.1/b", "", "file:///etc/passwd",
              "mailto:editor@example.com", "HTTP://127.0.0.1/c", "Loading...", " http://x"})
            emit page->linkHovered(QString::fromUtf8(text));
        QCOMPARE(status.count(), 3);
        QCOMPARE(status[0][0].toString(), QString("http://127.0.0.1/a"));
        QCOMPARE(status[1][0].toString(), QString("https://127.0.0.1/b"));
        QCOMPARE(status[2][0].toString(), QString());

        // The mouse over a real link gives its address, leaving it an empty text.
        QVERIFY(Show(Write("gen.html", kLinks)));
        status.clear();
        QWidget* target = View->WebView()->focusProxy();
        QTest::mouseMove(target, PositionOf("blank"));
        QVERIFY(QTest::qWaitFor([&] { return status.count() >= 1; }, kWaitMs));
        QCOMPARE(status[0][0].toString(), QString("http://127.0.0.1:9/news?id=1"));
        QTest::mouseMove(target, QPoint(700, 550));
        QVERIFY(QTest::qWaitFor([&] { return status.count() >= 2; }, kWaitMs));
        QCOMPARE(status[1][0].toString(), QString());
    }

    void WithPicturesOffAHostilePageRequestsNothing() {
        const auto server = CountingServer();
        View->SetPicturesShown(false);
        QVERIFY(Show(Write("gen.html", HostilePage(server->Url("")))));
        QVERIFY(PageText().contains("hostile"));
        Settle();
        const std::vector<std::string> paths = RequestedPaths(*server);
        QVERIFY2(paths.empty(), paths.empty() ? "" : paths.front().c_str());
        QCOMPARE(server->Connections(), 0);
    }

    void WithPicturesOnOnlyPicturesAreRequested() {
        const auto server = CountingServer();
        const std::string base = server->Url("");
        View->SetPicturesShown(true);
        // A folder whose name must be written with escapes in an address.
        ForceDirectories(Temp->File("news été"));
        QVERIFY(Show(Write("news été/gen.html", HostilePage(base))));
        QTRY_VERIFY_WITH_TIMEOUT(RequestedPaths(*server).size() >= 2, kWaitMs);
        Settle();
        std::vector<std::string> paths = RequestedPaths(*server);
        std::sort(paths.begin(), paths.end());
        paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
        for (const std::string& path : paths)
            QVERIFY2(path == "/img.png" || path == "/srcset.png" || path == "/poster.png" ||
                         path == "/background.png",
                     path.c_str());
        QVERIFY(std::find(paths.begin(), paths.end(), "/img.png") != paths.end());
        QVERIFY(std::find(paths.begin(), paths.end(), "/srcset.png") != paths.end());

        // Turned off, the same page asks for nothing more.
        View->SetPicturesShown(false);
        const size_t before = server->Requests().size();
        QVERIFY(Show(Write("news été/gen.html", HostilePage(base))));
        Settle();
        QCOMPARE(server->Requests().size(), before);
    }

    // The spy of a feed's CSS (an attribute selector on the links of other feeds, reporting by
    // the font it loads) in folders of feeds rendered as the window renders them.
    void AHostileFolderRenderedAsNewsRequestsNothing() {
        const auto server = CountingServer();
        const std::string base = server->Url("");
        ScopedDataFolder data(Temp->Path());
        ForceDirectories(Temp->File("template"));
        for (const char* name : {"top.html", "item.html", "bottom.html"})
            Temp->Write(std::string("template/") + name,
                        ReadFileToString(std::string(TOVEL_TEMPLATE_DIR) + "/" + name));
        TFeedList feeds(Temp->File("feeds.data"));
        TNewsType news(feeds);
        const char* const secrets[] = {"bank", "clinic", "union"};
        for (const char* secret : secrets) {
            TFeedListItem* feed =
                feeds.Add("root", secret, "http://127.0.0.1:9/" + std::string(secret) + ".xml");
            const std::string spy = "&lt;style&gt;@font-face { font-family: f; src: url(" + base + "/" +
                                    secret + ".woff); } a[href*=\"" + secret +
                                    "\"] { font-family: f; }"
                                    "body { background: url(" +
                                    base + "/bg-" + secret +
                                    ".png); }&lt;/style&gt;"
                                    "&lt;link rel=stylesheet href=\"" +
                                    base + "/" + secret +
                                    ".css\"&gt;"
                                    "&lt;p style=\"background:url(" +
                                    base + "/style-" + secret + ".png)\"&gt;" + secret + " news&lt;/p&gt;";
            news.LoadFeedFromString(
                *feed, "<rss version=\"2.0\"><channel><title>" + std::string(secret) +
                           "</title><item><title>" + secret + "</title><link>http://127.0.0.1:9/" + secret +
                           "/1</link><description>" + spy + "</description></item></channel></rss>");
        }
        QCOMPARE(news.ItemCount(), 3);
        View->SetPicturesShown(false);
        news.RenderPage(5, "All", false);
        QVERIFY(Show(QString::fromStdString(news.PagePath)));
        // The page's items are laid out once they are known to be near the screen: a frame later.
        QTRY_VERIFY_WITH_TIMEOUT(PageText().contains("clinic news"), kWaitMs);
        Settle();
        const std::vector<std::string> paths = RequestedPaths(*server);
        QVERIFY2(paths.empty(), paths.empty() ? "" : paths.front().c_str());
        QCOMPARE(server->Connections(), 0);
    }

    // The filter itself, without the browser.
    void TheFilterLetsThePageAndPicturesThrough() {
        using Info = QWebEngineUrlRequestInfo;
        const QUrl page = QUrl::fromLocalFile("/data/news/gen.html");
        QVERIFY(
            detail::MayRequest(QUrl("file:///data/news/gen.html"), Info::ResourceTypeMainFrame, page, false));
        QVERIFY(!detail::MayRequest(QUrl("file:///data/news/other.html"), Info::ResourceTypeMainFrame, page,
                                    true));
        QVERIFY(
            !detail::MayRequest(QUrl("file:///data/news/gen.html"), Info::ResourceTypeSubFrame, page, true));
        QVERIFY(!detail::MayRequest(QUrl("http://127.0.0.1/a.png"), Info::ResourceTypeImage, page, false));
        QVERIFY(detail::MayRequest(QUrl("http://127.0.0.1/a.png"), Info::ResourceTypeImage, page, true));
        QVERIFY(detail::MayRequest(QUrl("HTTPS://127.0.0.1/a.png"), Info::ResourceTypeImage, page, true));
        QVERIFY(!detail::MayRequest(QUrl("file:///etc/a.png"), Info::ResourceTypeImage, page, true));
        QVERIFY(!detail::MayRequest(QUrl("ftp://127.0.0.1/a.png"), Info::ResourceTypeImage, page, true));
        for (const Info::ResourceType type :
             {Info::ResourceTypeStylesheet, Info::ResourceTypeFontResource, Info::ResourceTypeMedia,
              Info::ResourceTypeFavicon, Info::ResourceTypePrefetch, Info::ResourceTypeScript,
              Info::ResourceTypeXhr, Info::ResourceTypeObject, Info::ResourceTypeSubResource,
              Info::ResourceTypePing, Info::ResourceTypeUnknown})
            QVERIFY2(!detail::MayRequest(QUrl("http://127.0.0.1/x"), type, page, true),
                     qPrintable(QString::number(type)));
        QVERIFY(detail::SamePage(QUrl("file:///data/news%20%C3%A9t%C3%A9/gen.html"),
                                 QUrl::fromLocalFile("/data/news été/gen.html")));
        QVERIFY(!detail::SamePage(QUrl("file:///data/news/gen.html#top"), page));
        QVERIFY(!detail::SamePage(QUrl("http://data/news/gen.html"), page));
    }

    void ALoadAskedForWhileTheFirstBlankPageLoadsIsShown() {
        // A view of its own, caught while its first blank page is still loading.
        View.reset();
        View = std::make_unique<TNewsView>();
        View->resize(800, 600);
        QSignalSpy started(View->WebView()->page(), &QWebEnginePage::loadStarted);
        View->show();
        QVERIFY(started.wait(kWaitMs));
        QVERIFY(Show(Write("gen.html", "<html><body>first</body></html>")));
        QCOMPARE(View->Url(), QUrl::fromLocalFile(QString::fromStdString(Temp->File("gen.html"))));
        QCOMPARE(PageText(), QString("first"));
    }

    void LoadsInQuickSuccessionEndOnceWithTheLast() {
        QVERIFY(Show("about:blank"));
        const QString a = Write("a.html", "<html><body>a</body></html>");
        const QString b = Write("b.html", "<html><body>b one</body></html>");
        QSignalSpy finished(View.get(), &TNewsView::LoadFinished);
        View->Navigate(a);
        View->Navigate(b);
        Write("b.html", "<html><body>b two</body></html>");
        View->Navigate(b);
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished[0][0].toBool(), true);
        QVERIFY(!View->Loading());
        QCOMPARE(View->Url(), QUrl::fromLocalFile(b));
        QCOMPARE(PageText(), QString("b two"));
        // Nothing more arrives later.
        QTest::qWait(500);
        QCOMPARE(finished.count(), 1);

        // A file that does not exist ends too, as a failure.
        finished.clear();
        View->Navigate(a);
        View->Navigate(QString::fromStdString(Temp->File("missing.html")));
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished[0][0].toBool(), false);
    }

    void AMetaRefreshToThePageItselfEndsNoLoad() {
        const QString page =
            Write("gen.html", "<html><head><meta http-equiv=\"refresh\" content=\"0\"></head>"
                              "<body>news</body></html>");
        QSignalSpy finished(View.get(), &TNewsView::LoadFinished);
        QVERIFY(Show(page));
        QTest::qWait(1500);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished[0][0].toBool(), true);
        QCOMPARE(PageText(), QString("news"));
    }
};

TOVEL_UI_TEST_MAIN(NewsViewTest)

#include "NewsViewTest.moc"
