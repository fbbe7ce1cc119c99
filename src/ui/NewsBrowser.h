#pragma once

#include <functional>
#include <memory>

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
    // Shows the file at a plain local path (read anew each time), or "about:blank".
    virtual void Navigate(const QString& path) = 0;
    // Pictures on or off for the next load.
    virtual void SetPicturesShown(bool shown) = 0;
    // The web view when this is the real one, else nullptr.
    virtual TNewsView* View() const { return nullptr; }

    // Set by the window: the status texts that belong in its status bar (a link's "http://" or
    // "https://" address, or "" when the mouse leaves it); the view leaves out every other text.
    std::function<void(const QString& text)> OnStatusTextChange;
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
    void Navigate(const QString& path) override {
        Path = path;
        ++Loads;
    }
    void SetPicturesShown(bool shown) override { PicturesShown = shown; }

    // The last path navigated to, the number of loads and the pictures setting.
    QString Path;
    int Loads = 0;
    bool PicturesShown = false;

private:
    QWidget* FWidget;
};
