#include "NewsView.h"

#include <QChildEvent>
#include <QDesktopServices>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <algorithm>

// Every request of the view's profile passes here (on the user-interface thread) before it is
// sent, so that the page's own HTML, whatever it holds, cannot make the view load anything else.
class TNewsRequestFilter : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    // The page the view navigated to last, and whether pictures are on.
    QUrl Page;
    bool Pictures = false;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        if (!detail::MayRequest(info.requestUrl(), info.resourceType(), Page, Pictures))
            info.block(true);
    }
};

// The page behind the view: it lets through the view's own loads and turns every other navigation
// away, so that a meta refresh or a form in a description cannot replace the news.
class TNewsPage : public QWebEnginePage {
public:
    TNewsPage(QWebEngineProfile* profile, TNewsView* owner) : QWebEnginePage(profile, owner), FOwner(owner) {}

    // The address the view is loading itself; the one navigation of the main frame let through.
    QUrl Expected;
    // The addresses of refused navigations of the main frame (a meta refresh, a link) whose end
    // the browser has not reported yet: their ends are not the view's load ending.
    QList<QUrl> Refused;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isMainFrame && type == NavigationTypeTyped && detail::SamePage(url, Expected))
            return true;
        if (isMainFrame) {
            // The browser reports each end right after the refusal; the bound only keeps ends it
            // never reports from piling up.
            if (Refused.size() >= 8)
                Refused.removeFirst();
            Refused.append(url);
        }
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

bool SamePage(const QUrl& a, const QUrl& b) {
    if (a.isLocalFile() || b.isLocalFile())
        return a.isLocalFile() && b.isLocalFile() && a.toLocalFile() == b.toLocalFile() &&
               a.query() == b.query() && a.fragment() == b.fragment();
    return a == b;
}

bool MayRequest(const QUrl& url, QWebEngineUrlRequestInfo::ResourceType type, const QUrl& page,
                bool pictures) {
    if (type == QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
        return SamePage(url, page);
    if (type == QWebEngineUrlRequestInfo::ResourceTypeImage && pictures) {
        const QString scheme = url.scheme().toLower();
        return scheme == QLatin1String("http") || scheme == QLatin1String("https");
    }
    return false;
}

} // namespace detail

// An off-the-record profile (no name): nothing of the page is written to disk, and the filter
// sees only this view's requests.
TNewsView::TNewsView(QWidget* parent)
    : QWidget(parent), OpenExternally([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      FProfile(new QWebEngineProfile(this)), FFilter(new TNewsRequestFilter(FProfile)),
      FView(new QWebEngineView(this)), FPage(new TNewsPage(FProfile, this)) {
    FProfile->setUrlRequestInterceptor(FFilter);
    QWebEngineSettings* settings = FPage->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    // Without this a local page shows no remote picture at all; other local files stay closed.
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    // An address dropped onto the view is the window's to take, not a page to go to.
    settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    SetPicturesShown(false);
    FView->setPage(FPage);
    // A drag over the view is the window's: the web view and the widget it renders into (made
    // when a page is first shown, and again after a renderer crash) take no drops, so the drag
    // reaches the first ancestor that does, the window's drop target.
    RefuseDrops(FView);

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
    connect(FPage, &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) { PageLoadingChanged(info); });
    // Local files end in milliseconds; a load still running after this long is taken to be lost.
    FStall.setSingleShot(true);
    FStall.setInterval(10000);
    connect(&FStall, &QTimer::timeout, this, [this] {
        FStalled = true;
        if (!FQueued.isEmpty())
            Load(FQueued);
    });
    Navigate(QStringLiteral("about:blank"));
}

// The view goes first, then the page it showed, and the profile (with its filter) last: a profile
// must outlive its pages.
TNewsView::~TNewsView() {
    FStall.stop();
    disconnect(FPage, nullptr, this, nullptr);
    delete FView;
    delete FPage;
}

void TNewsView::RefuseDrops(QWidget* widget) {
    widget->setAcceptDrops(false);
    widget->installEventFilter(this);
    for (QWidget* child : widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        RefuseDrops(child);
}

bool TNewsView::eventFilter(QObject* watched, QEvent* event) {
    // Added: before the child's own constructor has run; polished: before it is first shown.
    if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType())
            RefuseDrops(static_cast<QWidget*>(child));
    }
    return QWidget::eventFilter(watched, event);
}

void TNewsView::Navigate(const QString& path) {
    const QUrl url = path == QLatin1String("about:blank") ? QUrl(path) : QUrl::fromLocalFile(path);
    if (FBusy && !FStalled)
        FQueued = url;
    else
        Load(url);
}

void TNewsView::Load(QUrl url) {
    FQueued.clear();
    FBusy = true;
    FStalled = false;
    FLoading = url;
    FPage->Expected = url;
    FFilter->Page = url;
    FStall.start();
    FPage->load(url);
}

void TNewsView::PageLoadingChanged(const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus)
        return;
    if (info.status() != QWebEngineLoadingInfo::LoadSucceededStatus) {
        const auto refused = std::find_if(FPage->Refused.begin(), FPage->Refused.end(),
                                          [&](const QUrl& url) { return detail::SamePage(url, info.url()); });
        if (refused != FPage->Refused.end()) {
            FPage->Refused.erase(refused);
            return;
        }
    }
    if (!FBusy || !detail::SamePage(info.url(), FLoading))
        return;
    FBusy = false;
    FStall.stop();
    if (!FQueued.isEmpty())
        Load(FQueued);
    else
        emit LoadFinished(info.status() == QWebEngineLoadingInfo::LoadSucceededStatus);
}

void TNewsView::SetPicturesShown(bool shown) {
    FPage->settings()->setAttribute(QWebEngineSettings::AutoLoadImages, shown);
    FFilter->Pictures = shown;
}

QUrl TNewsView::Url() const {
    return FPage->url();
}

void TNewsView::FollowLink(const QUrl& url) {
    if (detail::MayOpenExternally(url) && OpenExternally)
        OpenExternally(url);
}
