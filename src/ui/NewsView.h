#pragma once

#include <QTimer>
#include <QUrl>
#include <QWebEngineUrlRequestInfo>
#include <QWidget>

#include <functional>

class QWebEngineLoadingInfo;
class QWebEngineProfile;
class QWebEngineView;
class TNewsPage;
class TNewsRequestFilter;

// The news view: a web view that shows our own page and nothing else. The descriptions in the page
// are foreign HTML, so scripts and plugins are off, no navigation leaves the page, and a link the
// user follows opens in the default browser instead of here. The view has a browser profile of
// its own (kept in memory only) whose every request passes one filter: the page file the view
// navigated to, and pictures over http and https while pictures are on; nothing else is ever
// requested, whatever the page says.
class TNewsView : public QWidget {
    Q_OBJECT
public:
    explicit TNewsView(QWidget* parent = nullptr);
    ~TNewsView() override;

    // Shows a local file given by its plain path, or the empty page for "about:blank"; the view's
    // only own loads. Loading the same path again reads the file anew. While a load of the view
    // runs, the next waits for its end (the last one asked for wins): the browser drops a load
    // that begins while its first blank page is still loading, and reports one end for several.
    void Navigate(const QString& path);
    // Pictures on or off for the next load; off stops srcset, poster and CSS images too, and a
    // picture still loading is refused from now on.
    void SetPicturesShown(bool shown);
    // The address of the page shown or being loaded.
    QUrl Url() const;
    // Whether a load of the view runs or waits: its LoadFinished is still to come.
    bool Loading() const { return FBusy; }

    // Receives every address the user follows from the page whose scheme is http, https or
    // mailto; other schemes never get here. Opens it in the default handler unless replaced.
    std::function<void(const QUrl&)> OpenExternally;

    // The web view inside, for tests and screenshots; callers load nothing through it.
    QWebEngineView* WebView() const { return FView; }

signals:
    // The status text for the window's status bar: the address of the link under the mouse when
    // it begins with "http://" or "https://", an empty text when the mouse leaves a link. Other
    // texts (file:, mailto:, custom schemes) are not passed on.
    void StatusTextChange(const QString& text);
    // The view's own load has finished (ok is false when it failed or was refused): once for the
    // last Navigate, also when several follow each other before the first has finished. The
    // navigations a page attempts itself (a meta refresh, even one to the page's own address)
    // are refused and never end here.
    void LoadFinished(bool ok);

protected:
    // Keeps the web view's widgets from taking drags (see the constructor).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TNewsPage;
    // Turns drops off on widget; a widget added to it later is handled as it comes.
    void RefuseDrops(QWidget* widget);
    // A link followed from the page: handed to OpenExternally when its scheme may leave.
    void FollowLink(const QUrl& url);
    // Starts the view's own load of url at once (a copy: it may be FQueued, which this clears).
    void Load(QUrl url);
    void PageLoadingChanged(const QWebEngineLoadingInfo& info);

    // Whether a load of the view runs, its address, and the address to load once it has ended
    // (empty for none). A load without an end within FStall's time no longer holds the next up.
    bool FBusy = false;
    QUrl FLoading;
    QUrl FQueued;
    QTimer FStall;
    bool FStalled = false;
    QWebEngineProfile* FProfile;
    TNewsRequestFilter* FFilter;
    QWebEngineView* FView;
    TNewsPage* FPage;
};

namespace detail {
// Whether a hovered link's text goes to the status bar: empty, or beginning with "http://" or
// "https://" (letter case counts).
bool IsStatusText(const QString& text);
// Whether an address may be handed to the default handler: http, https and mailto only.
bool MayOpenExternally(const QUrl& url);
// Whether two addresses name the same page: local files by their paths (however the address
// spells them), query and fragment; anything else by the whole address.
bool SamePage(const QUrl& a, const QUrl& b);
// Whether the view lets a request through: the main frame's load of page (the page the view
// navigated to), and pictures (images, not favicons) over http or https while pictures are on.
// Everything else is refused: stylesheets, fonts, media, frames, scripts, prefetches, other local
// files.
bool MayRequest(const QUrl& url, QWebEngineUrlRequestInfo::ResourceType type, const QUrl& page,
                bool pictures);
} // namespace detail
