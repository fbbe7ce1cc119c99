#include "ui/NewsBrowser.h"

#include <QTimer>

TPlainBrowser::TPlainBrowser(QWidget* parent) : FWidget(new QWidget(parent)) {
    FWidget->setAutoFillBackground(true);
    FWidget->setBackgroundRole(QPalette::Base);
    FWidget->setFocusPolicy(Qt::StrongFocus);
}

void TPlainBrowser::TakeSeenItems(std::function<void(std::vector<int> items)> done) {
    std::vector<int> items;
    items.swap(SeenItems);
    if (!AnswerLater) {
        done(std::move(items));
        return;
    }
    QTimer::singleShot(
        0, FWidget, [done = std::move(done), items = std::move(items)]() mutable { done(std::move(items)); });
}
