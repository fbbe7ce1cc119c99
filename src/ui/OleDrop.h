#pragma once

#include <functional>
#include <string>

#include <QObject>
#include <QPoint>
#include <QPointer>

class QDropEvent;
class QMimeData;
class QWidget;

class TDropTarget;

// A drop of text: the drop target, the text (UTF-8, cut at its first zero byte) and the drop
// point in screen coordinates.
using TDropTextEvent = std::function<void(TDropTarget& Sender, const std::string& Text, const QPoint& Point)>;

// Receives text dragged from other programs (an address from a browser, a line from an editor)
// onto one window and hands it to OnDropText. It accepts plain text, and a drag of links only
// when the first link is an http, https or feed address (that address is the text); a dragged
// file is refused while hovering. Every drop is answered with the copy action, so the source keeps its
// data.
class TDropTarget : public QObject {
    Q_OBJECT
public:
    // Owned by owner (as any QObject child); registered for no window yet.
    explicit TDropTarget(QObject* owner = nullptr);
    // Revokes the registration first.
    ~TDropTarget() override;

    // Called on every accepted drop; may be left empty, then a drop reads the text and does
    // nothing else.
    TDropTextEvent OnDropText;

    // Makes this the receiver of drops on window (and on its children that take no drops of
    // their own); a registration for another window is revoked first.
    void RegisterWindow(QWidget* window);
    // Ends the registration; does nothing when there is none.
    void RevokeWindow();
    // The registered window, or nullptr.
    QWidget* Window() const { return FWindow; }

    // The text a drag offers by the rules above, cut at its first zero byte; false when the
    // drag is refused.
    static bool DroppedText(const QMimeData* data, std::string& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Drop(QDropEvent& event);

    QPointer<QWidget> FWindow;
};
