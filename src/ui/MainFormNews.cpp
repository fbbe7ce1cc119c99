// The main window's news view: the refresh of a selection, its page, and the stored settings.
#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>

#include "news/NewsTypeCls.h"
#include "refresh/FeedsRefresh.h"
#include "ui/FeedTree.h"
#include "ui/Messages.h"
#include "ui/ProdInfo.h"
#include "ui/QtText.h"
#include "url/Url.h"

namespace {

const char* const kGeometryKey = "MainWindow/Geometry";
const char* const kSplitterKey = "MainWindow/Splitter";

// A stored setting that must be a 32-bit integer; raises "Invalid data type for '%s'" otherwise.
int ReadInteger(const QSettings& settings, const char* name) {
    const QVariant value = settings.value(name);
    bool ok = false;
    int number = 0;
    if (value.typeId() == QMetaType::Int) {
        number = value.toInt(&ok);
    } else if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        // Text files keep numbers as text; only a whole decimal number of 32 bits passes.
        const QString text = value.toString();
        if (!text.isEmpty() && !text.front().isSpace() && !text.back().isSpace())
            number = text.toInt(&ok, 10);
    } else if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::UInt) {
        const qlonglong wide = value.toLongLong(&ok);
        ok = ok && wide >= INT32_MIN && wide <= INT32_MAX;
        number = static_cast<int>(wide);
    }
    if (!ok)
        throw Exception(std::string("Invalid data type for '") + name + "'");
    return number;
}

} // namespace

QString PlainToolTip(const QString& text) {
    // A tooltip is read as rich text whenever it looks like markup; escaped and wrapped, a feed's
    // "<b>" or "<img src=...>" shows as the letters it is.
    return text.isEmpty() ? QString() : Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

void TfrmMain::ReadSettings() {
    QSettings& settings = Settings();
    const QByteArray geometry = settings.value(kGeometryKey).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    const QByteArray splitter = settings.value(kSplitterKey).toByteArray();
    if (!splitter.isEmpty())
        Splitter1->restoreState(splitter);
    // An index the filter does not have would leave the page without an age limit: "Last 2 days".
    int filter = 1;
    if (settings.contains("NewsFilter"))
        filter = ReadInteger(settings, "NewsFilter");
    cbxNewsFilter->setCurrentIndex(filter >= 0 && filter < cbxNewsFilter->count() ? filter : 1);
    if (settings.contains("ShowPics"))
        tbnShowPictures->setChecked(ReadInteger(settings, "ShowPics") != 0);
    FBrowser->SetPicturesShown(tbnShowPictures->isChecked());
    // The XML structure viewer is for testers: only a "Test" value shows it.
    miViewXMLStruct->setVisible(settings.contains("Test"));
}

void TfrmMain::WriteSettings() {
    QSettings& settings = Settings();
    settings.setValue(kGeometryKey, saveGeometry());
    settings.setValue(kSplitterKey, Splitter1->saveState());
    settings.setValue("NewsFilter", static_cast<qint32>(cbxNewsFilter->currentIndex()));
    settings.setValue("ShowPics", static_cast<qint32>(tbnShowPictures->isChecked() ? 1 : 0));
    settings.sync();
}

void TfrmMain::tvwFeedsChange(QTreeWidgetItem* node) {
    // Leaving a node: what was seen on its page has been read.
    MarkSeenItems();
    FSelectionShown = true;
    UpdatePopupMenu(node);
    const TFeedListItem* item = NodeItem(node);
    if (!item)
        return;
    // The old page is not shown again: a refresh stopped here only updates the tree.
    DropPageUpdate();
    if (!item->ErrorText.empty()) {
        ShowFailedFeed(item->ErrorText);
        return;
    }
    FForceRefresh = false;
    // A timed refresh brings this page's feeds too: the page is the cached one until they come.
    if (TimedRefreshing())
        MarkSelection();
    else
        StartRefresh();
    // The cache files as they are, at once; the refresh updates the page when it changes it.
    ShowCachedPage();
}

void TfrmMain::StartRefresh() {
    QTreeWidgetItem* node = tvwFeeds->currentItem();
    TFeedListItem* item = NodeItem(node);
    if (!item)
        return;
    // The running refresh ends first, with its page, so that the window is idle here.
    StopRefresh();
    tbnStop->setEnabled(true);
    if (!FBusyCursor) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        FBusyCursor = true;
    }
    try {
        FRefresher.Start(
            [this, node, item](TFeedList&) {
                if (!item->FeedURL.empty())
                    item->RefreshMark = true;
                else
                    MarkForRefresh(node, true);
            },
            FForceRefresh);
    } catch (...) {
        // No refresh runs, so none will end: the window is idle again.
        if (!FRefresher.IsRunning())
            RefreshFinished();
        throw;
    }
    RememberShownPage();
}

void TfrmMain::MarkForRefresh(QTreeWidgetItem* node, bool topLevel) {
    VisitAggregated(node, topLevel, [](QTreeWidgetItem*, TFeedListItem& item) {
        if (item.AggInclude)
            item.RefreshMark = true;
    });
}

void TfrmMain::RefreshFinished() {
    tbnStop->setEnabled(false);
    if (FBusyCursor) {
        QApplication::restoreOverrideCursor();
        FBusyCursor = false;
    }
    ShowRefreshStatus("");
    ShowStoreNote();
    // A timed refresh went over every feed.
    UpdateFeedIcons(EndTimedRefresh());
    FollowFailedFeed();
    // The page again only when what it shows has changed, keeping the reader's place.
    UpdateChangedPage();
}

void TfrmMain::ShowRefreshStatus(const std::string& text) {
    const QString whole = ToQt(text);
    StatusPanel0->setText(
        StatusPanel0->fontMetrics().elidedText(whole, Qt::ElideMiddle, StatusPanel0->contentsRect().width()));
    StatusPanel0->setToolTip(PlainToolTip(whole));
}

void TfrmMain::StopRefresh() {
    FRefresher.Stop(1000);
}

namespace {

void UpdateNodeIcons(QTreeWidgetItem* node, bool all) {
    const TFeedListItem* item = TfrmMain::NodeItem(node);
    if (item && !item->FeedURL.empty() && (item->RefreshMark || all)) {
        const bool failed = !item->ErrorText.empty();
        // Only real changes: each one makes the tree send the node's data to an open in-place
        // editor, and the user may be typing a new name there.
        const int image = failed ? 2 : 1;
        if (TfrmMain::NodeImage(node) != image)
            TfrmMain::SetNodeImage(node, image);
        // So the user sees why a feed of a folder failed without selecting it.
        const QString tip = failed ? PlainToolTip(ToQt(item->ErrorText)) : QString();
        if (node->toolTip(0) != tip)
            node->setToolTip(0, tip);
    }
    for (int i = 0; i < node->childCount(); ++i)
        UpdateNodeIcons(node->child(i), all);
}

} // namespace

void TfrmMain::UpdateFeedIcons(bool all) {
    for (int i = 0; i < tvwFeeds->topLevelItemCount(); ++i)
        UpdateNodeIcons(tvwFeeds->topLevelItem(i), all);
}

void TfrmMain::ShowError(const std::string& text) {
    NoteSeenItems(false);
    FShownItems.clear();
    FNews->WriteErrorPage(text);
    FBrowser->Navigate(ToQt(FNews->PagePath));
}

void TfrmMain::ShowNewsPage(bool keepPlace) {
    const bool pictures = tbnShowPictures->isChecked();
    NoteSeenItems(false);
    ApplyUnreadState();
    FNews->RenderPage(cbxNewsFilter->currentIndex(), FromQt(cbxNewsFilter->currentText()), pictures);
    NoteRenderedItems();
    FBrowser->SetPicturesShown(pictures);
    FBrowser->Navigate(ToQt(FNews->PagePath), keepPlace);
}

void TfrmMain::tbnRefreshMouseUp(Qt::KeyboardModifiers modifiers) {
    FForceRefresh = (modifiers & (Qt::ShiftModifier | Qt::ControlModifier)) != 0;
    StartRefresh();
}

void TfrmMain::acnRefreshExecute() {
    StartRefresh();
}

void TfrmMain::tbnStopClick() {
    StopRefresh();
}

void TfrmMain::cbxNewsFilterClick() {
    ShowNewsPage();
    WebBrowser->setFocus();
}

void TfrmMain::tbnShowPicturesClick() {
    ShowNewsPage();
}

void TfrmMain::WebBrowserStatusTextChange(const QString& text) {
    // The view passes on only the texts that belong here; a password in a link is not shown.
    StatusPanel0->setText(text.isEmpty() ? text : ToQt(DisplayURL(FromQt(text))));
}

bool TfrmMain::ReleaseWorkers() {
    return FRefresher.Shutdown(1000);
}
