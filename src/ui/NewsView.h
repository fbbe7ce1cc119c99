#pragma once

#include <QTimer>
#include <QUrl>
#include <QWebEngineUrlRequestInfo>
#include <QWidget>

#include <functional>
#include <set>
#include <vector>

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
    // With keepPlace the item at the top of the view (the first item wrapper, <div data-item=...
    // data-key=...>, whose bottom is below the view's top edge) is read before the load and put
    // back at the same distance from the top once it has ended, found by its data-key; when the
    // new page lacks it, the next item of the old page that it has goes there instead. A page
    // scrolled to its very top stays at its top. A load that begins while the place of an earlier
    // one is still to be put back keeps that place.
    void Navigate(const QString& path, bool keepPlace = false);
    // The places (data-item) of the item wrappers that have been on screen since the page loaded,
    // ascending, handed to done once the view has looked at the screen once more; then forgotten.
    void TakeSeenItems(std::function<void(std::vector<int> items)> done);
    // Called with the data-item of the wrapper around a link the user follows (the focused link,
    // else the first link of the page to the same address); not for a link outside every item.
    std::function<void(int item)> ItemOpened;
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
    // The view's own scripts: runs script in the application's world and hands its result to
    // done, unless the view has loaded another page meanwhile (or is gone).
    void RunScript(const QString& script, std::function<void(const QVariant& result)> done);
    // Notes the items on screen now; then runs done, if any.
    void NoteSeenItems(std::function<void()> done = {});
    void RestorePlace(bool again);
    // Navigate's load itself, the place to keep (if any) being known.
    void LoadPath(const QString& path);

    // The place to put back after the running load: the keys of the old top item and of those
    // after it, and the top item's distance from the view's top edge.
    QStringList FPlaceKeys;
    double FPlaceTop = 0;
    // Whether the place of a keepPlace load is being read: the load waits for it (to FPendingPath).
    bool FReadingPlace = false;
    QString FPendingPath;
    // The items seen on the page shown; the page's number, raised by every load.
    std::set<int> FSeen;
    unsigned FGeneration = 0;
    QTimer FSeenTimer;

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
