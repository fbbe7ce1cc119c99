// The main window's tree commands: renaming, moving, editing, aggregating, deleting and adding.
#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>

#include "cache/CacheFiles.h"
#include "news/NewsTypeCls.h"
#include "ui/FeedForm.h"
#include "ui/FeedTree.h"
#include "ui/Messages.h"
#include "ui/QtText.h"

bool TfrmMain::tvwFeedsEditing(const QTreeWidgetItem* node) const {
    return node && node != FAllFeedsNode;
}

void TfrmMain::tvwFeedsEdited(QTreeWidgetItem* node, std::string& text) {
    if (!tvwFeedsEditing(node))
        return;
    TFeedListItem* item = NodeItem(node);
    if (IsAcceptableName(text)) {
        item->FeedName = text;
        ScheduleSave();
    } else {
        text = item->FeedName;
    }
    SetNodeText(node, text);
}

void TfrmMain::EditNode(QTreeWidgetItem* node) {
    if (!tvwFeedsEditing(node))
        return;
    tvwFeeds->scrollToItem(node);
    tvwFeeds->editItem(node, 0);
}

bool TfrmMain::tvwFeedsDragOver(const QTreeWidgetItem* target) const {
    const QTreeWidgetItem* selected = tvwFeeds->currentItem();
    return target && selected && NodeImage(target) == 0 && target != selected->parent();
}

void TfrmMain::tvwFeedsDragDrop(QTreeWidgetItem* target) {
    QTreeWidgetItem* selected = tvwFeeds->currentItem();
    if (!target || !selected || selected == FAllFeedsNode)
        return;
    // Never onto the node itself or into its own subtree.
    for (const QTreeWidgetItem* up = target; up; up = up->parent())
        if (up == selected)
            return;
    QTreeWidgetItem* oldParent = selected->parent();
    if (!oldParent)
        return;
    // The move is no new selection: the node stays selected and nothing is shown anew.
    const bool blocked = tvwFeeds->blockSignals(true);
    const bool expanded = selected->isExpanded();
    oldParent->removeChild(selected);
    target->addChild(selected);
    selected->setExpanded(expanded);
    target->setExpanded(true);
    tvwFeeds->setCurrentItem(selected);
    tvwFeeds->blockSignals(blocked);
    NodeItem(selected)->ParentID = NodeItem(target)->FeedID;
    UpdateCounts();
    ScheduleSave();
}

void TfrmMain::miPropertiesClick() {
    QTreeWidgetItem* node = tvwFeeds->currentItem();
    if (!node || node == FAllFeedsNode)
        return;
    TFeedListItem* item = NodeItem(node);
    if (item->FeedURL.empty()) {
        EditNode(node);
        return;
    }
    if (!FFeedDialog)
        return;
    FFeedDialog->edtName->setText(ToQt(item->FeedName));
    FFeedDialog->edtURL->setText(ToQt(item->FeedURL));
    FFeedDialog->OriginalURL = item->FeedURL;
    FFeedDialog->cbxAggInclude->setChecked(item->AggInclude);
    FFeedDialog->cbxShowAuthor->setChecked(item->ShowAuthor);
    FFeedDialog->edtURL->setFocus();
    if (FFeedDialog->exec() != QDialog::Accepted)
        return;
    // A refresh that runs on the old address drops its outcome for the new one itself.
    const std::string url = FromQt(FFeedDialog->edtURL->text());
    if (ApplyFeedProperties(*item, FromQt(FFeedDialog->edtName->text()), url,
                            FFeedDialog->cbxAggInclude->isChecked(), FFeedDialog->cbxShowAuthor->isChecked()))
        FeedReaddressed(*item);
    SetNodeText(node, item->FeedName);
    UpdatePopupMenu(tvwFeeds->currentItem());
    UpdateCounts();
    ScheduleSave();
}

void TfrmMain::miAggregateClick() {
    QTreeWidgetItem* node = tvwFeeds->currentItem();
    if (!node || node == FAllFeedsNode) {
        UpdatePopupMenu(node);
        return;
    }
    NodeItem(node)->AggInclude = miAggregate->isChecked();
    UpdateCounts();
    ScheduleSave();
}

namespace {

void CollectDeepestFirst(QTreeWidgetItem* node, std::vector<QTreeWidgetItem*>& into) {
    for (int i = 0; i < node->childCount(); ++i) {
        CollectDeepestFirst(node->child(i), into);
        into.push_back(node->child(i));
    }
}

} // namespace

void TfrmMain::miDeleteClick() {
    QTreeWidgetItem* node = tvwFeeds->currentItem();
    if (!node || node == FAllFeedsNode)
        return;
    std::string question = "Are you sure you want to remove \"" + FromQt(node->text(0)) + "\"";
    if (node->childCount() > 0)
        question += " and ALL subitems";
    question += "?";
    if (!AskYesNo(question, false))
        return;
    // A running refresh works on copies and drops the outcomes of entries that are gone.
    std::vector<QTreeWidgetItem*> descendantNodes;
    CollectDeepestFirst(node, descendantNodes);
    std::vector<TFeedListItem*> descendants;
    for (QTreeWidgetItem* descendant : descendantNodes)
        descendants.push_back(NodeItem(descendant));
    TFeedListItem* item = NodeItem(node);
    std::vector<std::string> deletedFeeds;
    DeleteFeedEntries(FFeeds, *item, descendants, [this, &deletedFeeds](const TFeedListItem& entry) {
        if (FNews)
            FNews->DropFeedItems(&entry);
        if (!entry.FeedURL.empty())
            deletedFeeds.push_back(entry.FeedID);
    });
    for (QTreeWidgetItem* descendant : descendantNodes)
        descendant->setData(0, kItemRole, QVariant());
    node->setData(0, kItemRole, QVariant());
    ScheduleSave();
    // The tree then selects another node, which counts as a selection change.
    delete node;
    ForgetFeeds(deletedFeeds);
}

QTreeWidgetItem* TfrmMain::NewEntryParent() const {
    QTreeWidgetItem* node = tvwFeeds->currentItem();
    if (!node)
        return nullptr;
    const TFeedListItem* item = NodeItem(node);
    if (node != FAllFeedsNode && item && !item->FeedURL.empty())
        return node->parent();
    return node;
}

void TfrmMain::acnAddFolderExecute() {
    QTreeWidgetItem* parent = NewEntryParent();
    if (!parent)
        return;
    TFeedListItem* item = FFeeds.Add(NodeItem(parent)->FeedID, "New folder", "");
    QTreeWidgetItem* node = AddNode(parent, item, 0);
    ScheduleSave();
    parent->setExpanded(true);
    tvwFeeds->setCurrentItem(node);
    EditNode(node);
}

void TfrmMain::acnAddFeedExecute() {
    if (QTreeWidgetItem* parent = NewEntryParent())
        AddFeed(parent, "");
}

void TfrmMain::AddFeed(QTreeWidgetItem* parent, const std::string& url) {
    if (!FFeedDialog)
        return;
    FFeedDialog->edtName->setText(QString());
    FFeedDialog->edtURL->setText(ToQt(url));
    // A new feed: the address is looked at on OK, also when it was dropped.
    FFeedDialog->OriginalURL.clear();
    FFeedDialog->cbxAggInclude->setChecked(true);
    FFeedDialog->cbxShowAuthor->setChecked(false);
    FFeedDialog->edtURL->setFocus();
    if (FFeedDialog->exec() != QDialog::Accepted)
        return;
    TFeedListItem* item = FFeeds.Add(NodeItem(parent)->FeedID, FromQt(FFeedDialog->edtName->text()),
                                     FromQt(FFeedDialog->edtURL->text()));
    item->AggInclude = FFeedDialog->cbxAggInclude->isChecked();
    item->ShowAuthor = FFeedDialog->cbxShowAuthor->isChecked();
    AddNode(parent, item, 1);
    parent->setExpanded(true);
    ScheduleSave();
}

void TfrmMain::UrlDropped(TDropTarget&, const std::string& Text, const QPoint&) {
    if (!IsDroppedFeedURL(Text))
        return;
    if (QTreeWidgetItem* parent = NewEntryParent())
        AddFeed(parent, NormalizeFeedURL(Text));
}
