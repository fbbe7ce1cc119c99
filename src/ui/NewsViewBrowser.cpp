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
        FView->ItemOpened = [this](int item) {
            if (OnItemOpened)
                OnItemOpened(item);
        };
    }
    // The view may outlive this object by a moment (its parent releases it): it must not call here.
    ~TNewsViewBrowser() override {
        QObject::disconnect(FConnection);
        FView->ItemOpened = nullptr;
    }

    QWidget* Widget() const override { return FView; }
    void Navigate(const QString& path, bool keepPlace = false) override { FView->Navigate(path, keepPlace); }
    void TakeSeenItems(std::function<void(std::vector<int> items)> done) override {
        FView->TakeSeenItems(std::move(done));
    }
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
