#include "ui/NewsView.h"

#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "TempDir.h"

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
        QCOMPARE(SuccessfulLoads(finished), 1);
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
};

int main(int argc, char** argv) {
    // The browser's sandbox refuses to start as root (a container's test run); the pages here are
    // the test's own.
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Qt WebEngine wants the shared contexts set before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    NewsViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "NewsViewTest.moc"
