#include "ui/OleDrop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include "UiTestSupport.h"

namespace {

// Sends one drag-and-drop event to widget as the platform would; true when it was accepted.
bool SendDrag(QWidget& widget, QEvent::Type type, const QMimeData& data, Qt::DropActions actions,
              Qt::DropAction* answered = nullptr) {
    const QPointF pos(5, 5);
    bool accepted = false;
    if (type == QEvent::Drop) {
        QDropEvent event(pos, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
        accepted = event.isAccepted();
        if (answered)
            *answered = event.dropAction();
    } else if (type == QEvent::DragEnter) {
        QDragEnterEvent event(pos.toPoint(), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
        accepted = event.isAccepted();
        if (answered)
            *answered = event.dropAction();
    } else {
        QDragMoveEvent event(pos.toPoint(), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
        accepted = event.isAccepted();
    }
    return accepted;
}

} // namespace

class OleDropTest : public QObject {
    Q_OBJECT

private slots:
    void whatADragOffers() {
        std::string text;
        QMimeData plain;
        plain.setText("http://127.0.0.1/rss");
        QVERIFY(TDropTarget::DroppedText(&plain, text));
        QCOMPARE(text, std::string("http://127.0.0.1/rss"));

        QMimeData link;
        link.setUrls({QUrl("https://127.0.0.1/feed?a=1"), QUrl("http://127.0.0.1/other")});
        QVERIFY(TDropTarget::DroppedText(&link, text));
        QCOMPARE(text, std::string("https://127.0.0.1/feed?a=1"));

        // Browsers hand a feed's address over in its "feed:" forms; the window's handler turns
        // them into http and https addresses.
        for (const char* url : {"feed://127.0.0.1/rss", "feed:https://127.0.0.1/rss"}) {
            QMimeData feed;
            feed.setUrls({QUrl(url)});
            QVERIFY(TDropTarget::DroppedText(&feed, text));
            QCOMPARE(text, std::string(url));
        }

        QMimeData ftp;
        ftp.setUrls({QUrl("ftp://127.0.0.1/feed")});
        QVERIFY(!TDropTarget::DroppedText(&ftp, text));

        // A file, also when the file manager adds its path as text.
        QMimeData file;
        file.setUrls({QUrl::fromLocalFile("/tmp/feed.xml")});
        file.setText("/tmp/feed.xml");
        QVERIFY(!TDropTarget::DroppedText(&file, text));

        QMimeData image;
        image.setData("image/png", QByteArray("\x89PNG", 4));
        QVERIFY(!TDropTarget::DroppedText(&image, text));

        QMimeData zero;
        zero.setData("text/plain", QByteArray("http://127.0.0.1/a\0tail", 23));
        QVERIFY(TDropTarget::DroppedText(&zero, text));
        QCOMPARE(text, std::string("http://127.0.0.1/a"));
    }

    void dropsReachTheEventWithTheCopyAction() {
        QWidget window;
        TDropTarget target(&window);
        target.RegisterWindow(&window);
        QVERIFY(window.acceptDrops());
        std::vector<std::string> dropped;
        QPoint where;
        target.OnDropText = [&](TDropTarget& sender, const std::string& text, const QPoint& point) {
            QCOMPARE(&sender, &target);
            dropped.push_back(text);
            where = point;
        };

        QMimeData text;
        text.setText("HTTP://127.0.0.1/rss");
        Qt::DropAction answer = Qt::IgnoreAction;
        QVERIFY(SendDrag(window, QEvent::DragEnter, text, Qt::MoveAction | Qt::CopyAction, &answer));
        QCOMPARE(answer, Qt::CopyAction);
        QVERIFY(SendDrag(window, QEvent::DragMove, text, Qt::MoveAction | Qt::CopyAction));
        // A source that offers a move keeps its data: the answer is copy.
        QVERIFY(SendDrag(window, QEvent::Drop, text, Qt::MoveAction | Qt::CopyAction, &answer));
        QCOMPARE(answer, Qt::CopyAction);
        QTRY_COMPARE(dropped.size(), size_t(1));
        QCOMPARE(dropped[0], std::string("HTTP://127.0.0.1/rss"));
        QCOMPARE(where, window.mapToGlobal(QPoint(5, 5)));

        QMimeData file;
        file.setUrls({QUrl::fromLocalFile("/tmp/feed.xml")});
        QVERIFY(!SendDrag(window, QEvent::DragEnter, file, Qt::CopyAction));
        QVERIFY(!SendDrag(window, QEvent::DragMove, file, Qt::CopyAction));

        // Without a handler a drop reads the text and does nothing else.
        target.OnDropText = nullptr;
        SendDrag(window, QEvent::Drop, text, Qt::MoveAction | Qt::CopyAction);
        QCoreApplication::processEvents();
        QCOMPARE(dropped.size(), size_t(1));
    }

    void revokingEndsTheDrops() {
        QWidget window;
        auto* target = new TDropTarget(&window);
        target->RegisterWindow(&window);
        target->RevokeWindow();
        QVERIFY(!window.acceptDrops());
        QVERIFY(!target->Window());
        target->RevokeWindow();
        int drops = 0;
        target->OnDropText = [&](TDropTarget&, const std::string&, const QPoint&) { ++drops; };
        QMimeData text;
        text.setText("http://127.0.0.1/");
        SendDrag(window, QEvent::Drop, text, Qt::CopyAction);
        QCoreApplication::processEvents();
        QCOMPARE(drops, 0);

        // Registering for another window leaves the first one.
        QWidget other;
        target->RegisterWindow(&window);
        target->RegisterWindow(&other);
        QVERIFY(!window.acceptDrops());
        QCOMPARE(target->Window(), &other);
        delete target;
        QVERIFY(!other.acceptDrops());
    }

    void textDraggedOverTheTreeReachesTheWindow() {
        // The window's children that take drags of their own pass text on to it.
        QWidget window;
        auto* child = new QWidget(&window);
        child->setAcceptDrops(true);
        TDropTarget target(&window);
        target.RegisterWindow(&window);
        QMimeData text;
        text.setText("http://127.0.0.1/");
        QVERIFY(SendDrag(*child, QEvent::DragEnter, text, Qt::CopyAction));
    }
};

TOVEL_UI_TEST_MAIN(OleDropTest)
#include "OleDropTest.moc"
