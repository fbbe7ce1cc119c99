#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QPoint>
#include <QTimer>

#include "catalogue/FeedCommands.h"
#include "catalogue/FeedListCls.h"
#include "refresh/RefreshController.h"
#include "ui/NewsBrowser.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QSplitter;
class QStatusBar;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TDropTarget;
class TfrmFeed;
class TItemStore;
class TItemStoreWriter;
class TNewsType;
class TNewsView;
class TTimedRefresh;
class QSystemTrayIcon;
struct TFeedCounts;
struct TStoreWriteReport;

// The images built into the program (Qt resource paths): the tree's at 16 x 16, by image index
// (0 folder and All Feeds, 1 feed, 2 failed feed), and the toolbar's at 24 x 24 (refresh, stop,
// add feed, add folder, pictures).
extern const char* const ImtTreeView[3];
extern const char* const ImtTools[5];
// Registers the built-in images; the window does it itself, tests that look at the images alone
// call it first.
void InitImages();

// The main window: the feed tree on the left, the news view on the right, toolbar, menus and
// status bar. It is the only place where the user changes the catalogue, and it keeps tree and
// catalogue in step itself; every change is also saved once the event loop is idle. Selecting a
// node refreshes the feeds behind it in the background and then shows their news.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // FormCreate: title, the All Feeds item, the news renderer, the news view on "about:blank",
    // the tree filled from feeds, the settings, the drop target; a failing step shows its message
    // and the window opens all the same. All Feeds is selected without being shown: no refresh
    // runs until the user selects a node (a first click on All Feeds counts) or refreshes.
    // makeBrowser makes the news view (the program passes CreateNewsView); without it the window
    // has a TPlainBrowser. feeds must outlive every command; only the destructor may run after it
    // is gone. The refresh thread's calls reach the window through the dispatcher the program
    // installs (TQtDispatcher) before it makes the window.
    explicit TfrmMain(TFeedList& feeds, QWidget* parent = nullptr,
                      const TNewsBrowserFactory& makeBrowser = {});
    // FormDestroy: the settings are written first, then the renderer, the All Feeds item and the
    // drop target are released. The catalogue is not used any more.
    ~TfrmMain() override;

    // The controls, named as their object names.
    QTreeWidget* tvwFeeds = nullptr;
    QSplitter* Splitter1 = nullptr;
    // The news view's widget (see Browser and NewsView).
    QWidget* WebBrowser = nullptr;
    QToolBar* ToolBar = nullptr;
    QToolButton* tbnRefresh = nullptr;
    QToolButton* tbnStop = nullptr;
    QToolButton* tbnAddFeed = nullptr;
    QToolButton* tbnAddFolder = nullptr;
    QComboBox* cbxNewsFilter = nullptr;
    QToolButton* tbnShowPictures = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QMenu* miFile = nullptr;
    QAction* miAddFeed = nullptr;
    QAction* miAddFolder = nullptr;
    QAction* miImportOpml = nullptr;
    QAction* miMarkAllRead = nullptr;
    QAction* miExportOpml = nullptr;
    QAction* miExit = nullptr;
    QMenu* miHelp = nullptr;
    QAction* miAbout = nullptr;
    QAction* miViewXMLStruct = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* miProperties = nullptr;
    QAction* miAggregate = nullptr;
    QAction* miDelete = nullptr;
    QAction* miMarkRead = nullptr;
    QAction* miMarkUnread = nullptr;
    QAction* acnAddFeed = nullptr;
    QAction* acnAddFolder = nullptr;
    QAction* acnRefresh = nullptr;

    // The news view behind WebBrowser, and the web view when it is the real one (else nullptr).
    INewsBrowser* Browser() const { return FBrowser.get(); }
    TNewsView* NewsView() const { return FBrowser ? FBrowser->View() : nullptr; }

    // The top node "All Feeds" (nullptr when the tree could not be filled).
    QTreeWidgetItem* AllFeedsNode() const { return FAllFeedsNode; }
    // The catalogue entry a node shows (the window's own root item for All Feeds).
    static TFeedListItem* NodeItem(const QTreeWidgetItem* node);
    // The image index of a node: 0 folder or All Feeds, 1 feed, 2 failed feed.
    static int NodeImage(const QTreeWidgetItem* node);
    static void SetNodeImage(QTreeWidgetItem* node, int imageIndex);
    // Sets a node's text and sorts its siblings again.
    void SetNodeText(QTreeWidgetItem* node, const std::string& text);
    // The sibling order: negative when node1 goes first.
    static int tvwFeedsCompare(const QTreeWidgetItem* node1, const QTreeWidgetItem* node2);

    // The tree from the catalogue: All Feeds, every reachable entry below it, sorted at all levels.
    void FillTree();
    void AddChildNodes(QTreeWidgetItem* node, const std::vector<TFeedTreeEntry>& children);

    // In-place renaming: whether node may be edited, and the end of an edit (text may be changed
    // back to the old name when the new one is blank).
    bool tvwFeedsEditing(const QTreeWidgetItem* node) const;
    void tvwFeedsEdited(QTreeWidgetItem* node, std::string& text);
    // Starts in-place editing of node when tvwFeedsEditing allows it.
    void EditNode(QTreeWidgetItem* node);
    // Moving the selected node: whether target takes it, and the move itself.
    bool tvwFeedsDragOver(const QTreeWidgetItem* target) const;
    void tvwFeedsDragDrop(QTreeWidgetItem* target);
    // A new selection: the popup menu's state; then the node's error page when its entry has an
    // ErrorText, else a refresh that does not force downloads.
    void tvwFeedsChange(QTreeWidgetItem* node);

    // The tree commands.
    void miPropertiesClick();
    // Runs after the action has inverted its own check mark.
    void miAggregateClick();
    void miDeleteClick();
    void acnAddFolderExecute();
    void acnAddFeedExecute();
    // A text dropped on the window: an "http://" or "https://" address (any letter case), or a
    // browser's "feed:" form of one, becomes a new feed through the feed dialog; anything else,
    // or no selection, is ignored.
    void UrlDropped(TDropTarget& Sender, const std::string& Text, const QPoint& Point);
    // File, Import OPML...: a subscription list chosen in a file dialog goes below the folder Add
    // Folder would use; the new entries show at once, unrefreshed, and the status bar counts them.
    // A file that is not a list shows its message and changes nothing.
    void miImportOpmlClick();
    // File, Export OPML...: the entries below the folder Add Folder would use (All Feeds: every
    // one) into an OPML file chosen in a file dialog.
    void miExportOpmlClick();
    void miExitClick();
    void miAboutClick();
    // The selected entry's cache file in the XML structure viewer; a missing or unreadable file
    // shows its message.
    void miViewXMLStructClick();

    // The refresh and view cycle.
    // Refreshes the feeds behind the selected node: a running refresh is stopped first (and shows
    // its page), then Stop is enabled, the busy cursor shown, and the marks set (the feed itself,
    // or MarkForRefresh for a folder) for one new refresh. Nothing without a selection.
    void StartRefresh();
    // Marks node's entry and visits its children when it has AggInclude; visits them anyway when
    // topLevel. Children are visited in tree order with topLevel cleared.
    void MarkForRefresh(QTreeWidgetItem* node, bool topLevel);
    // The end of a refresh, once per refresh: Stop disabled, cursor restored, panel 0 cleared, the
    // marked feeds loaded, their images updated, then the selected entry's error page or the
    // news page, shown in the view.
    // A refresh's progress text in the first status panel: a text wider than the panel loses its
    // middle, so that the feed's name and its place " (k of N)" both stay in view; the whole text
    // is the panel's tooltip.
    void ShowRefreshStatus(const std::string& text);
    void RefreshFinished();
    // Stops a running refresh, waiting at most 1000 ms; a worker still busy is given up. Its end
    // runs at once (RefreshFinished). Nothing when no refresh runs.
    void StopRefresh();
    // Every marked feed's node (all: every feed's): image 2 with its ErrorText as tooltip when it
    // has one, else 1.
    void UpdateFeedIcons(bool all = false);
    // The error page for text, shown in the view.
    void ShowError(const std::string& text);
    // The page written again from the items in memory, with the filter and pictures as they are,
    // and shown; keepPlace keeps the item at the top of the view there.
    void ShowNewsPage(bool keepPlace = false);
    // A mouse button released over Refresh: Shift or Ctrl forces downloads; then StartRefresh.
    void tbnRefreshMouseUp(Qt::KeyboardModifiers modifiers);
    // F5: StartRefresh, forcing downloads as the last refresh did.
    void acnRefreshExecute();
    void tbnStopClick();
    // The user picked a filter entry: the page anew from memory, and the focus to the view.
    void cbxNewsFilterClick();
    // The pictures button has changed state: the page anew from memory.
    void tbnShowPicturesClick();
    // A status text of the view, put into panel 0.
    void WebBrowserStatusTextChange(const QString& text);
    // Whether a refresh runs.
    bool Refreshing() const { return FRefresher.IsRunning(); }

    // For the program's end, before the catalogue is saved and released: stops a running refresh
    // without showing anything and waits up to 1000 ms for every worker. False when one is still
    // busy (a name lookup): the program must then end with _exit once it has saved the catalogue
    // and the settings.
    bool ReleaseWorkers();

    // Saves the catalogue once the event loop is idle; a burst of changes gives one save.
    void ScheduleSave();
    // Whether a scheduled save has not run yet.
    bool SavePending() const { return FSaveTimer.isActive(); }
    // Saves the catalogue now (and drops a scheduled save). A failure shows its message once;
    // the same failure again stays silent until a save succeeds.
    void SaveCatalogue();

    // Read and unread items (MainFormStore.cpp).
    // Hands the window the store of the items' read state, opened by the program, which must
    // outlive the window; the window writes it on a thread of its own. Its message (a damaged
    // store set aside) goes to the status bar once. Without a store nothing is counted or marked.
    void SetItemStore(TItemStore* store);
    // Records the document of a refresh's outcome that the window applied, after the outcomes
    // applied before it; an outcome that was dropped (its feed deleted or given a new address
    // meanwhile) or that brought no new document records nothing.
    void RecordOutcome(const TFeedOutcome& outcome);
    // The unread items of every feed in the tree; the title begins with it ("(34) Tovel RSS
    // Reader", nothing at 0).
    int UnreadTotal() const { return FUnreadTotal; }
    // The unread items a node counts: a feed's own, a folder's or All Feeds' of the feeds its
    // page would show (the marking rule, whatever the age filter).
    int NodeUnread(const QTreeWidgetItem* node) const;
    // Told, on this thread, of each document recorded: its FeedID and how many of its items are
    // new (0 included).
    std::function<void(const std::string& feedId, int newItems)> OnNewItems;
    // Runs call on this thread once every store write asked for so far has been made and its
    // counts shown; at once without a store.
    void AfterStoreWrites(std::function<void()> call);
    // Waits up to ms for the store writes asked for so far, and shows their counts; true when
    // done (tests, the program's end).
    bool WaitForItemStore(int ms = 10000);
    // The items shown in the view since its last load count as read.
    void MarkSeenItems();
    // The same when the window closes (the program's event loop has ended): the view's answer is
    // waited for here, at most waitMs, running only the events that are not the user's, so that
    // the items seen just before closing are read too.
    void MarkSeenItemsAtClose(int waitMs = 1500);
    // Popup menu: every feed the node's page would show read; the feed's items unread. File
    // menu: every feed read.
    void miMarkReadClick();
    void miMarkUnreadClick();
    void miMarkAllReadClick();
    // Visits node's entry, then, when it has AggInclude or topLevel is set, its children in tree
    // order with topLevel cleared: the entries a selection of node refreshes and shows.
    static void VisitAggregated(QTreeWidgetItem* node, bool topLevel,
                                const std::function<void(QTreeWidgetItem* node, TFeedListItem& item)>& visit);

    // The page at once, the refresh on a timer, the settings and the tray (MainFormTimer.cpp).
    // A selection shows the marked feeds' page from their cache files at once; each outcome of a
    // refresh that changes what the page shows (a new document or another error of one of its
    // feeds) has it rendered again, keeping the reader's place, at most every 2 s while the
    // refresh runs and once more at its end. A timer refreshes every feed in the background by the
    // freshness rule, without marks, busy cursor or change of selection; a selection meanwhile
    // starts no refresh of its own. Stop stops it; a refresh in progress makes it skip a turn.
    QAction* miSettings = nullptr;
    // The marks of the selected node's page, set without a refresh.
    void MarkSelection();
    // A failed feed selected: its error page, and no refresh. The feed is marked and taken as the
    // page's, so that an outcome that mends it (a timed refresh) renders its news; while a user's
    // refresh of another page runs, whose marks are that page's, that waits for its end.
    void ShowFailedFeed(const std::string& errorText);
    // The marked feeds loaded from their cache files and their page (or the selected feed's error
    // page) shown now.
    void ShowCachedPage();
    // The page rendered again, keeping the place, when an outcome has changed it since its render.
    void UpdateChangedPage();
    // An outcome the refresh has applied: the page is due again when it changes what it shows.
    void NotePageOutcome(const TFeedOutcome& outcome);
    // Whether an outcome has changed the page since its render; and that change forgotten (with a
    // failed feed's page waiting for the end of a refresh).
    bool PageStale() const;
    void DropPageUpdate();
    // The timer's turn: every feed refreshed in the background, unless a refresh runs.
    void StartTimedRefresh();
    // Whether the running refresh is the timer's.
    bool TimedRefreshing() const;
    // The timer's interval in minutes (0: off), restarting it; and the notifications switch.
    int RefreshInterval() const;
    void SetRefreshInterval(int minutes);
    bool Notifications() const;
    void SetNotifications(bool on);
    // File, Settings...: the interval and the notifications switch, stored at once.
    void miSettingsClick();
    // A document of a feed recorded with its number of new items (from the item store).
    void NoteNewItems(const std::string& feedId, int newItems);
    // The tray icon where the desktop has a tray, else nullptr; its tooltip (the unread total);
    // the last "N new items in M feeds" it said; the window brought to the front.
    QSystemTrayIcon* TrayIcon() const;
    QString TrayToolTip() const;
    QString TrayMessage() const;
    void UpdateTrayToolTip();
    void RaiseWindow();

    // The drop target registered for this window.
    TDropTarget* DropTarget() const { return FDropTarget.get(); }

    // The feed dialog that Add Feed, Edit and a dropped address run; the program makes it after
    // the window (its parent) and hands it over here. The window does not own it. Without one
    // those commands do nothing.
    void SetFeedDialog(TfrmFeed* dialog) { FFeedDialog = dialog; }
    TfrmFeed* FeedDialog() const { return FFeedDialog; }

protected:
    // Status tips are dropped: the status bar's first panel keeps the refresh's text while the
    // mouse is over a button or a menu.
    bool event(QEvent* event) override;

private:
    void CreateControls(const TNewsBrowserFactory& makeBrowser);
    // The timer, its settings, the Settings... item and the tray.
    void CreateTimedRefresh();
    // The end of a refresh: whether it was the timer's; the tray then says what it brought.
    bool EndTimedRefresh();
    // The page of the marked feeds shown (error page or news page), its feeds' errors noted.
    void ShowMarkedPage(bool keepPlace);
    // Notes what the page shows of its feeds' errors, so that an outcome can tell a change.
    void RememberShownPage();
    // The end of a user's refresh that ran while a failed feed was selected: that feed marked
    // and taken as the page's now, and its page shown again when the refresh changed its error.
    void FollowFailedFeed();
    void CreateMenus();
    // The filter, the pictures button and "View XML Struct" from the settings; raises
    // "Invalid data type for '%s'" for a value that is not a 32-bit integer.
    void ReadSettings();
    // The filter and the pictures button into the settings.
    void WriteSettings();
    void UpdatePopupMenu(QTreeWidgetItem* node);
    // The parent for a new entry: the selected node, or its parent when it is a feed.
    QTreeWidgetItem* NewEntryParent() const;
    // Runs the feed dialog for a new feed below parent; url fills the address field.
    void AddFeed(QTreeWidgetItem* parent, const std::string& url);
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, TFeedListItem* item, int imageIndex);
    // A pass of the store's writer, on this thread.
    void StoreWritten(const TStoreWriteReport& report);
    // Every node's count and the title from FCounts; only the rows whose count changed are
    // drawn again.
    void UpdateCounts();
    // The feeds given up: their rows go.
    void ForgetFeeds(const std::vector<std::string>& feedIds);
    // A feed given a new address: no current document until its next download, which keeps the
    // rows of the items it still holds.
    void FeedReaddressed(const TFeedListItem& item);
    // The store's note for the status bar (a damaged store set aside, a failed write), shown
    // once: when no refresh runs, else again at the refresh's end.
    void ShowStoreNote();
    // The items the view has shown since its last load, taken from it and kept for marking;
    // with markNow every item kept so far is marked read. done runs once that is over (maybe
    // later, from the event loop; not when the window has gone).
    void NoteSeenItems(bool markNow, std::function<void()> done = {});
    // The (FeedID, identity) of each item of the page just rendered, by its place.
    void NoteRenderedItems();
    // Marks the (FeedID, identity) pairs read and empties items.
    void MarkItemsRead(std::vector<std::pair<std::string, std::string>>& items);
    // Sets each loaded item's Unread from the store before a render.
    void ApplyUnreadState();

    TFeedList& FFeeds;
    std::unique_ptr<INewsBrowser> FBrowser;
    std::unique_ptr<TNewsType> FNews;
    TRefreshController FRefresher;
    bool FBusyCursor = false;
    QTreeWidgetItem* FAllFeedsNode = nullptr;
    std::unique_ptr<TFeedListItem> FRootItem;
    std::unique_ptr<TDropTarget> FDropTarget;
    TfrmFeed* FFeedDialog = nullptr;
    QTimer FSaveTimer;
    bool FSaveErrorShown = false;
    // Whether StartRefresh forces downloads: set by Refresh with Shift or Ctrl, cleared by a
    // selection.
    bool FForceRefresh = false;
    // Whether a selection has been shown since creation (tvwFeedsChange has run).
    bool FSelectionShown = false;
    // The page at once, the timer and the tray; a child of the window.
    TTimedRefresh* FTimed = nullptr;
    TItemStore* FStore = nullptr;
    std::unique_ptr<TItemStoreWriter> FStoreWriter;
    // Per FeedID with a current document, as the store's writer last reported.
    std::map<std::string, int> FUnread;
    int FUnreadTotal = 0;
    // The writer's jobs done and reported here, and the calls waiting for a number of them.
    uint64_t FStoreDone = 0;
    std::string FStoreNote;
    // The items of the page shown, by place; those seen there and not yet marked read.
    std::vector<std::pair<std::string, std::string>> FShownItems;
    std::vector<std::pair<std::string, std::string>> FSeenItems;
    std::vector<std::pair<uint64_t, std::function<void()>>> FAfterStoreWrites;
};

// A tooltip that shows text as it is, also when it looks like markup ("" stays "").
QString PlainToolTip(const QString& text);

// The main window, created by the program's entry.
extern TfrmMain* frmMain;
