#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>

class QWebEngineView;
class TNewsPage;

// The news view: a web view that shows our own page and nothing else. The descriptions in the page
// are foreign HTML, so scripts and plugins are off, no navigation leaves the page, and a link the
// user follows opens in the default browser instead of here.
class TNewsView : public QWidget {
    Q_OBJECT
public:
    explicit TNewsView(QWidget* parent = nullptr);
    ~TNewsView() override;

    // Shows a local file given by its plain path, or the empty page for "about:blank"; the view's
    // only own loads. Loading the same path again reads the file anew.
    void Navigate(const QString& path);
    // Pictures on or off for the next load; off stops srcset, poster and CSS images too.
    void SetPicturesShown(bool shown);
    // The address of the page shown or being loaded.
    QUrl Url() const;

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
    // The view's own load has finished (ok is false when it failed or was refused).
    void LoadFinished(bool ok);

private:
    friend class TNewsPage;
    // A link followed from the page: handed to OpenExternally when its scheme may leave.
    void FollowLink(const QUrl& url);

    QWebEngineView* FView;
    TNewsPage* FPage;
};

namespace detail {
// Whether a hovered link's text goes to the status bar: empty, or beginning with "http://" or
// "https://" (letter case counts).
bool IsStatusText(const QString& text);
// Whether an address may be handed to the default handler: http, https and mailto only.
bool MayOpenExternally(const QUrl& url);
} // namespace detail
