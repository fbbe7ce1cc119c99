#include "NewsView.h"

#include <QChildEvent>
#include <QDesktopServices>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
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

namespace {

// The view's scripts. The item wrappers stand in page order, top to bottom, so the first one on
// screen is found by halving, a few layouts even on a page of thousands of items.
const char kItemsScript[] = R"(
var items = document.querySelectorAll('div[data-item][data-key]');
function firstBelow(edge) {
    var lo = 0, hi = items.length;
    while (lo < hi) {
        var mid = (lo + hi) >> 1;
        if (items[mid].getBoundingClientRect().bottom <= edge) lo = mid + 1; else hi = mid;
    }
    return lo;
}
)";

// The top item's key with those of up to 50 items after it, and its distance from the top edge;
// null at the very top of the page or without items.
const char kReadPlaceScript[] = R"((function () {
%1
    if (window.scrollY <= 0) return null;
    var first = firstBelow(0);
    if (first >= items.length) return null;
    var keys = [];
    for (var i = first; i < items.length && keys.length < 50; ++i) keys.push(items[i].getAttribute('data-key'));
    return {keys: keys, top: items[first].getBoundingClientRect().top};
})())";

// Scrolls the first of the keys the page has to where the place was; true when one was found.
const char kRestorePlaceScript[] = R"((function (keys, top) {
    for (var i = 0; i < keys.length; ++i) {
        var item = document.querySelector('div[data-item][data-key="' + keys[i] + '"]');
        if (!item) continue;
        window.scrollBy(0, item.getBoundingClientRect().top - (i == 0 ? top : 0));
        return true;
    }
    return false;
})(%1, %2))";

// The data-item of every wrapper on screen.
const char kSeenScript[] = R"((function () {
%1
    var out = [];
    for (var i = firstBelow(0); i < items.length && items[i].getBoundingClientRect().top < window.innerHeight; ++i)
        out.push(Number(items[i].getAttribute('data-item')));
    return out;
})())";

// The data-item of the wrapper around the focused link, else around the first link to href; -1.
const char kOpenedScript[] = R"((function (href) {
    var selector = 'div[data-item][data-key]';
    var focused = document.activeElement;
    var item = focused && focused.closest ? focused.closest(selector) : null;
    if (!item || !(focused.href === href)) {
        item = null;
        var links = document.querySelectorAll(selector + ' a[href]');
        for (var i = 0; i < links.length && !item; ++i)
            if (links[i].href === href) item = links[i].closest(selector);
    }
    return item ? Number(item.getAttribute('data-item')) : -1;
})(%1))";

// A JavaScript literal of a value, for a script's arguments.
QString ScriptLiteral(const QJsonValue& value) {
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

} // namespace

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
    // What is on screen is looked at a moment after the user scrolls or the page changes size.
    FSeenTimer.setSingleShot(true);
    FSeenTimer.setInterval(150);
    connect(&FSeenTimer, &QTimer::timeout, this, [this] { NoteSeenItems(); });
    connect(FPage, &QWebEnginePage::scrollPositionChanged, this, [this] {
        if (!FSeenTimer.isActive())
            FSeenTimer.start();
    });
    connect(FPage, &QWebEnginePage::contentsSizeChanged, this, [this] {
        if (!FSeenTimer.isActive())
            FSeenTimer.start();
    });
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

void TNewsView::Navigate(const QString& path, bool keepPlace) {
    if (!keepPlace) {
        FPlaceKeys.clear();
        FReadingPlace = false;
    } else if (FReadingPlace) {
        FPendingPath = path;
        return;
    } else if (FPlaceKeys.isEmpty() && !FBusy && path != QLatin1String("about:blank")) {
        // The page is still the old one until the place has been read.
        FReadingPlace = true;
        FPendingPath = path;
        RunScript(QString::fromLatin1(kReadPlaceScript).arg(QLatin1String(kItemsScript)),
                  [this](const QVariant& result) {
                      if (!FReadingPlace)
                          return;
                      FReadingPlace = false;
                      const QVariantMap place = result.toMap();
                      static const QRegularExpression key(QStringLiteral("^[0-9a-f]{16}$"));
                      for (const QVariant& value : place.value(QStringLiteral("keys")).toList())
                          if (key.match(value.toString()).hasMatch())
                              FPlaceKeys.append(value.toString());
                      FPlaceTop = place.value(QStringLiteral("top")).toDouble();
                      LoadPath(FPendingPath);
                  });
        return;
    }
    LoadPath(path);
}

void TNewsView::LoadPath(const QString& path) {
    const QUrl url = path == QLatin1String("about:blank") ? QUrl(path) : QUrl::fromLocalFile(path);
    if (FBusy && !FStalled)
        FQueued = url;
    else
        Load(url);
}

void TNewsView::Load(QUrl url) {
    // Items seen on the old page are the old page's: whoever wanted them has taken them.
    ++FGeneration;
    FSeen.clear();
    FSeenTimer.stop();
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
    if (!FQueued.isEmpty()) {
        Load(FQueued);
        return;
    }
    const bool ok = info.status() == QWebEngineLoadingInfo::LoadSucceededStatus;
    if (ok && !FPlaceKeys.isEmpty())
        RestorePlace(false);
    else
        FPlaceKeys.clear();
    FSeenTimer.start();
    emit LoadFinished(ok);
}

void TNewsView::RunScript(const QString& script, std::function<void(const QVariant& result)> done) {
    const unsigned generation = FGeneration;
    QPointer<TNewsView> self(this);
    FPage->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                         [self, generation, done = std::move(done)](const QVariant& result) {
                             if (self && self->FGeneration == generation)
                                 done(result);
                         });
}

void TNewsView::RestorePlace(bool again) {
    QJsonArray keys;
    for (const QString& key : FPlaceKeys)
        keys.append(key);
    const QString script = QString::fromLatin1(kRestorePlaceScript)
                               .arg(QString::fromUtf8(QJsonDocument(keys).toJson(QJsonDocument::Compact)))
                               .arg(FPlaceTop);
    RunScript(script, [this, again](const QVariant&) {
        // Items laid out only as they come near the screen may still move the page a little:
        // once more a moment later, then the place is given up.
        if (again)
            FPlaceKeys.clear();
        else
            QTimer::singleShot(100, this, [this, generation = FGeneration] {
                if (generation == FGeneration && !FPlaceKeys.isEmpty())
                    RestorePlace(true);
            });
    });
}

void TNewsView::NoteSeenItems(std::function<void()> done) {
    RunScript(QString::fromLatin1(kSeenScript).arg(QLatin1String(kItemsScript)),
              [this, done = std::move(done)](const QVariant& result) {
                  for (const QVariant& item : result.toList())
                      FSeen.insert(item.toInt());
                  if (done)
                      done();
              });
}

void TNewsView::TakeSeenItems(std::function<void(std::vector<int> items)> done) {
    const unsigned generation = FGeneration;
    const auto hand = [this, generation, done] {
        std::vector<int> items;
        if (generation == FGeneration) {
            items.assign(FSeen.begin(), FSeen.end());
            FSeen.clear();
        }
        done(std::move(items));
    };
    if (FBusy) {
        hand();
        return;
    }
    // A load may come before the script's answer; the items noted so far are handed over then.
    const auto taken = std::make_shared<bool>(false);
    NoteSeenItems([taken, hand] {
        if (!*taken) {
            *taken = true;
            hand();
        }
    });
    // Without an answer (another page loaded meanwhile) done still runs, with what was noted.
    QTimer::singleShot(1000, this, [taken, hand] {
        if (!*taken) {
            *taken = true;
            hand();
        }
    });
}

void TNewsView::SetPicturesShown(bool shown) {
    FPage->settings()->setAttribute(QWebEngineSettings::AutoLoadImages, shown);
    FFilter->Pictures = shown;
}

QUrl TNewsView::Url() const {
    return FPage->url();
}

void TNewsView::FollowLink(const QUrl& url) {
    if (!detail::MayOpenExternally(url))
        return;
    if (OpenExternally)
        OpenExternally(url);
    if (ItemOpened)
        RunScript(QString::fromLatin1(kOpenedScript).arg(ScriptLiteral(url.toString(QUrl::FullyEncoded))),
                  [this](const QVariant& result) {
                      bool ok = false;
                      const int item = result.toInt(&ok);
                      if (ok && item >= 0 && ItemOpened)
                          ItemOpened(item);
                  });
}
