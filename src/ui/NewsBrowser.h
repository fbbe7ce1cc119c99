#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QString>
#include <QWidget>

class TNewsView;

// What the main window needs of its news view: a pane that shows a local page file or
// "about:blank", with pictures on or off, and reports the link under the mouse. The real one is
// the web view of NewsView.h (library tovel_newsview, made by CreateNewsView); the window's own
// tests use TPlainBrowser and so do without a browser engine.
class INewsBrowser {
public:
    virtual ~INewsBrowser() = default;
    // The widget placed in the window; the window's widget tree owns it.
    virtual QWidget* Widget() const = 0;
    // Shows the file at a plain local path (read anew each time), or "about:blank". With
    // keepPlace the item at the top of the view (found by the data-key of its wrapper) is at the
    // top again once the new page has loaded, at the same distance from the view's edge; an item
    // the new page lacks gives its place to the next one of the old page that it has.
    virtual void Navigate(const QString& path, bool keepPlace = false) = 0;
    // The places K (data-item) of the items that have been on screen since the page loaded,
    // ascending and each once, handed to done (later, on the user-interface thread, or at once);
    // they are forgotten then. Nothing is noted for an error page or "about:blank". The places are
    // those of the page shown at the call: match them with the renderer's items as they are at
    // the call, since a new render may come before done runs.
    virtual void TakeSeenItems(std::function<void(std::vector<int> items)> done) = 0;
    // Pictures on or off for the next load.
    virtual void SetPicturesShown(bool shown) = 0;
    // The web view when this is the real one, else nullptr.
    virtual TNewsView* View() const { return nullptr; }

    // Set by the window: the status texts that belong in its status bar (a link's "http://" or
    // "https://" address, or "" when the mouse leaves it); the view leaves out every other text.
    std::function<void(const QString& text)> OnStatusTextChange;
    // Set by the window: the user has opened the link of item K of the page (data-item of the
    // wrapper around the link), besides its being opened as usual.
    std::function<void(int item)> OnItemOpened;
};

// Makes the news view inside the given parent.
using TNewsBrowserFactory = std::function<std::unique_ptr<INewsBrowser>(QWidget* parent)>;

// The real news view (defined in the library tovel_newsview).
std::unique_ptr<INewsBrowser> CreateNewsView(QWidget* parent);

// A stand-in that shows an empty pane and records what it was asked to show.
class TPlainBrowser : public INewsBrowser {
public:
    explicit TPlainBrowser(QWidget* parent);
    QWidget* Widget() const override { return FWidget; }
    void Navigate(const QString& path, bool keepPlace = false) override {
        Path = path;
        ++Loads;
        KeptPlace = keepPlace;
        PlaceKeepingLoads += keepPlace ? 1 : 0;
    }
    void SetPicturesShown(bool shown) override { PicturesShown = shown; }
    // At once, or with AnswerLater from the event loop, as the web view answers.
    void TakeSeenItems(std::function<void(std::vector<int> items)> done) override;

    // The last path navigated to, the number of loads and the pictures setting.
    QString Path;
    int Loads = 0;
    bool PicturesShown = false;
    // Whether the last load kept the place, and how many loads did.
    bool KeptPlace = false;
    int PlaceKeepingLoads = 0;
    // What TakeSeenItems hands over next (and then empties): set by tests.
    std::vector<int> SeenItems;
    // Whether TakeSeenItems hands them over from the event loop instead of at once.
    bool AnswerLater = false;

private:
    QWidget* FWidget;
};
