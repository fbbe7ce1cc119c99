// The web view of NewsView.h as the main window's news view.
#include "ui/NewsBrowser.h"
#include "ui/NewsView.h"

namespace {

class TNewsViewBrowser : public INewsBrowser {
public:
    explicit TNewsViewBrowser(QWidget* parent) : FView(new TNewsView(parent)) {
        FConnection =
            QObject::connect(FView, &TNewsView::StatusTextChange, FView, [this](const QString& text) {
                if (OnStatusTextChange)
                    OnStatusTextChange(text);
            });
    }
    // The view may outlive this object by a moment (its parent releases it): it must not call here.
    ~TNewsViewBrowser() override { QObject::disconnect(FConnection); }

    QWidget* Widget() const override { return FView; }
    void Navigate(const QString& path) override { FView->Navigate(path); }
    void SetPicturesShown(bool shown) override { FView->SetPicturesShown(shown); }
    TNewsView* View() const override { return FView; }

private:
    TNewsView* FView;
    QMetaObject::Connection FConnection;
};

} // namespace

std::unique_ptr<INewsBrowser> CreateNewsView(QWidget* parent) {
    return std::make_unique<TNewsViewBrowser>(parent);
}
