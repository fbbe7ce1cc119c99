#pragma once

// The feed tree widget of the main window: its nodes, keys, mouse, node moves and in-place
// renaming, routed to the window. Only the window's own sources include it.

#include <QApplication>
#include <QDrag>
#include <QDragMoveEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include "ui/MainForm.h"
#include "ui/Messages.h"
#include "ui/QtText.h"

// Where a node keeps its catalogue entry and its image index.
constexpr int kItemRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;
// The unread items a node counts (TfrmMain::NodeUnread), drawn after its name.
constexpr int kUnreadRole = Qt::UserRole + 2;
// The drag of a node inside the tree; it carries nothing, the selected node is what moves.
constexpr const char* kNodeMimeType = "application/x-tovelrss-node";

// A tree node that sorts among its siblings by the window's rule.
class TFeedNode : public QTreeWidgetItem {
public:
    TFeedNode() : QTreeWidgetItem(QTreeWidgetItem::UserType) {}
    bool operator<(const QTreeWidgetItem& other) const override {
        return TfrmMain::tvwFeedsCompare(this, &other) < 0;
    }
};

// The feed tree: keys, mouse, node moves and in-place renaming routed to the window.
class TFeedTree : public QTreeWidget {
public:
    TFeedTree(TfrmMain& form, QWidget* parent) : QTreeWidget(parent), FForm(form) {}

    QTreeWidgetItem* NodeFromIndex(const QModelIndex& index) const { return itemFromIndex(index); }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
            // The text is compared, not the node: a folder named "All Feeds" is not renamed by F2.
            QTreeWidgetItem* node = currentItem();
            if (node && node->text(0) != "All Feeds")
                Guarded([&] { FForm.EditNode(node); });
            event->accept();
            return;
        }
        // An in-place editor hands its Enter on to the tree once it has taken it; that one is not ours.
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && state() != EditingState)
            Guarded([&] { FForm.miPropertiesClick(); });
        QTreeWidget::keyPressEvent(event);
    }

    void mousePressEvent(QMouseEvent* event) override {
        // The right button selects first, so the popup menu is about the node under the mouse.
        if (event->button() == Qt::RightButton) {
            if (QTreeWidgetItem* node = itemAt(event->position().toPoint()))
                setCurrentItem(node);
            event->accept();
            return;
        }
        QTreeWidget::mousePressEvent(event);
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (FForm.PopupMenu->defaultAction() == FForm.miProperties && itemAt(event->position().toPoint())) {
            Guarded([&] { FForm.miPropertiesClick(); });
            event->accept();
            return;
        }
        QTreeWidget::mouseDoubleClickEvent(event);
    }

    void startDrag(Qt::DropActions) override {
        if (!currentItem())
            return;
        auto* data = new QMimeData;
        data->setData(kNodeMimeType, QByteArray());
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        drag->setPixmap(currentItem()->icon(0).pixmap(16, 16));
        // The move is made by the drop itself; whatever exec answers, nothing is removed here.
        drag->exec(Qt::MoveAction, Qt::MoveAction);
    }

    void dragEnterEvent(QDragEnterEvent* event) override {
        if (IsNodeDrag(event)) {
            event->acceptProposedAction();
            return;
        }
        // Text from other programs is the window's drop target's business.
        event->ignore();
    }

    void dragMoveEvent(QDragMoveEvent* event) override {
        if (!IsNodeDrag(event)) {
            event->ignore();
            return;
        }
        if (FForm.tvwFeedsDragOver(itemAt(event->position().toPoint()))) {
            event->setDropAction(Qt::MoveAction);
            event->accept();
        } else {
            event->ignore();
        }
    }

    void dropEvent(QDropEvent* event) override {
        if (!IsNodeDrag(event)) {
            event->ignore();
            return;
        }
        QTreeWidgetItem* target = itemAt(event->position().toPoint());
        Guarded([&] { FForm.tvwFeedsDragDrop(target); });
        event->setDropAction(Qt::MoveAction);
        event->accept();
    }

private:
    bool IsNodeDrag(const QDropEvent* event) const {
        return event->source() == this && event->mimeData() && event->mimeData()->hasFormat(kNodeMimeType);
    }

    TfrmMain& FForm;
};

// Draws a node with unread items in bold with their count, "Name (12)", while its text stays the
// name (so renaming, F2 and the sort see the name alone); ends an in-place edit through the
// window's rule for names.
class TNodeDelegate : public QStyledItemDelegate {
public:
    TNodeDelegate(TfrmMain& form, TFeedTree& tree) : QStyledItemDelegate(&tree), FForm(form), FTree(tree) {}

    // The look of the node at index as it is drawn: its text and font.
    QStyleOptionViewItem NodeOption(const QModelIndex& index) const {
        QStyleOptionViewItem option;
        option.initFrom(&FTree);
        initStyleOption(&option, index);
        return option;
    }

    // The name is put into the editor once, when it opens: a node whose image or tooltip changes
    // meanwhile (a refresh ending) must not take back what the user has typed.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        if (editor->property(kFilledProperty).toBool())
            return;
        editor->setProperty(kFilledProperty, true);
        QStyledItemDelegate::setEditorData(editor, index);
    }

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        QTreeWidgetItem* node = FTree.NodeFromIndex(index);
        if (!line || !node)
            return;
        std::string text = FromQt(line->text());
        Guarded([&] { FForm.tvwFeedsEdited(node, text); });
    }

    // A name too long for the row is shortened, never its count.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const int unread = index.data(kUnreadRole).toInt();
        if (unread <= 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem look = option;
        initStyleOption(&look, index);
        const QStyle* style = look.widget ? look.widget->style() : QApplication::style();
        const QRect rect = style->subElementRect(QStyle::SE_ItemViewItemText, &look, look.widget);
        // The style keeps a margin on each side of the text.
        const int margins = 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, look.widget) + 1);
        const QFontMetrics metrics(look.font);
        if (metrics.horizontalAdvance(look.text) > rect.width() - margins) {
            const QString count = QStringLiteral(" (%1)").arg(unread);
            const int room = rect.width() - margins - metrics.horizontalAdvance(count);
            look.text = metrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                           std::max(0, room)) +
                        count;
        }
        style->drawControl(QStyle::CE_ItemViewItem, &look, painter, look.widget);
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int unread = index.data(kUnreadRole).toInt();
        if (unread > 0) {
            option->font.setBold(true);
            option->fontMetrics = QFontMetrics(option->font);
            option->text = QStringLiteral("%1 (%2)").arg(option->text).arg(unread);
        }
    }

private:
    static constexpr const char* kFilledProperty = "tovelEditorFilled";

    TfrmMain& FForm;
    TFeedTree& FTree;
};
