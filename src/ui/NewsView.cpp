#include "NewsView.h"

#include <QDesktopServices>
#include <QVBoxLayout>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

// The page behind the view: it lets through the view's own loads and turns every other navigation
// away, so that a meta refresh or a form in a description cannot replace the news.
class TNewsPage : public QWebEnginePage {
public:
    TNewsPage(QWebEngineProfile* profile, TNewsView* owner) : QWebEnginePage(profile, owner), FOwner(owner) {}

    // The address the view is loading itself; the one navigation of the main frame let through.
    QUrl Expected;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isMainFrame && type == NavigationTypeTyped && url == Expected)
            return true;
        // A link without a target of its own (or one whose scheme the browser hands to the
        // desktop, mailto:) is followed outside the view as well. Redirects, meta refreshes,
        // forms, history moves and reloads started by the page go nowhere.
        if (type == NavigationTypeLinkClicked)
            FOwner->FollowLink(url);
        return false;
    }

    // Links with target="_blank" arrive as window requests (handled in the view's constructor);
    // nothing ever gets a window of its own.
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

private:
    TNewsView* FOwner;
};

namespace detail {

bool IsStatusText(const QString& text) {
    return text.isEmpty() || text.startsWith(QLatin1String("http://")) ||
           text.startsWith(QLatin1String("https://"));
}

bool MayOpenExternally(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                             scheme == QLatin1String("mailto"));
}

} // namespace detail

TNewsView::TNewsView(QWidget* parent)
    : QWidget(parent), OpenExternally([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      FView(new QWebEngineView(this)), FPage(new TNewsPage(QWebEngineProfile::defaultProfile(), this)) {
    QWebEngineSettings* settings = FPage->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    // Without this a local page shows no remote picture at all; other local files stay closed.
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    // An address dropped onto the view is the window's to take, not a page to go to.
    settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    FView->setPage(FPage);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FView);
    setFocusProxy(FView);

    connect(FPage, &QWebEnginePage::linkHovered, this, [this](const QString& text) {
        if (detail::IsStatusText(text))
            emit StatusTextChange(text);
    });
    // Not opening the request in a page drops the new window and whatever it was to load.
    connect(FPage, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest& request) { FollowLink(request.requestedUrl()); });
    connect(FPage, &QWebEnginePage::loadFinished, this, &TNewsView::LoadFinished);
    Navigate(QStringLiteral("about:blank"));
}

// The view goes first (it was created first), then the page it showed.
TNewsView::~TNewsView() = default;

void TNewsView::Navigate(const QString& path) {
    const QUrl url = path == QLatin1String("about:blank") ? QUrl(path) : QUrl::fromLocalFile(path);
    FPage->Expected = url;
    FPage->load(url);
}

void TNewsView::SetPicturesShown(bool shown) {
    FPage->settings()->setAttribute(QWebEngineSettings::AutoLoadImages, shown);
}

QUrl TNewsView::Url() const {
    return FPage->url();
}

void TNewsView::FollowLink(const QUrl& url) {
    if (detail::MayOpenExternally(url) && OpenExternally)
        OpenExternally(url);
}
