#include "ui/OleDrop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include "ui/QtText.h"

TDropTarget::TDropTarget(QObject* owner) : QObject(owner) {}

TDropTarget::~TDropTarget() {
    RevokeWindow();
}

void TDropTarget::RegisterWindow(QWidget* window) {
    RevokeWindow();
    if (!window)
        return;
    window->installEventFilter(this);
    window->setAcceptDrops(true);
    FWindow = window;
}

void TDropTarget::RevokeWindow() {
    if (!FWindow)
        return;
    FWindow->removeEventFilter(this);
    FWindow->setAcceptDrops(false);
    FWindow = nullptr;
}

bool TDropTarget::DroppedText(const QMimeData* data, std::string& text) {
    if (!data)
        return false;
    const QList<QUrl> urls = data->hasUrls() ? data->urls() : QList<QUrl>();
    // File managers offer the path as text beside the link; a file is no address.
    if (!urls.isEmpty() && urls.first().isLocalFile())
        return false;
    // Qt reports links as text too; only a real text format counts as text here.
    if (data->hasFormat("text/plain") || data->hasFormat("text/plain;charset=utf-8")) {
        text = FromQt(data->text());
    } else if (!urls.isEmpty()) {
        // "feed" is how browsers hand over a feed's address ("feed://host/x", "feed:https://...").
        const QString scheme = urls.first().scheme().toLower();
        if (scheme != "http" && scheme != "https" && scheme != "feed")
            return false;
        text = FromQt(urls.first().toString(QUrl::FullyEncoded));
    } else {
        return false;
    }
    const size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.erase(zero);
    return true;
}

bool TDropTarget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FWindow)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto& drag = static_cast<QDragMoveEvent&>(*event);
        std::string text;
        if (DroppedText(drag.mimeData(), text)) {
            drag.setDropAction(Qt::CopyAction);
            drag.accept();
        } else {
            drag.ignore();
        }
        return true;
    }
    case QEvent::DragLeave:
        return true;
    case QEvent::Drop:
        Drop(static_cast<QDropEvent&>(*event));
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

void TDropTarget::Drop(QDropEvent& event) {
    std::string text;
    if (!DroppedText(event.mimeData(), text)) {
        event.ignore();
        return;
    }
    event.setDropAction(Qt::CopyAction);
    event.accept();
    const QPoint point = FWindow->mapToGlobal(event.position().toPoint());
    // The handler opens a modal dialog; it runs once the drop itself has ended, so the source
    // has its answer and is not held inside the drag meanwhile.
    QMetaObject::invokeMethod(
        this,
        [this, text, point] {
            if (OnDropText)
                OnDropText(*this, text, point);
        },
        Qt::QueuedConnection);
}
