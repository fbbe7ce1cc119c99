#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QPoint>
#include <QTimer>

#include "catalogue/FeedCommands.h"
#include "catalogue/FeedListCls.h"

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
class TNewsType;

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
// catalogue in step itself; every change is also saved once the event loop is idle.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // FormCreate: title, the All Feeds item, the news renderer, the tree filled from feeds, the
    // settings, the drop target; a failing step shows its message and the window opens all the
    // same. All Feeds is selected. feeds must outlive every command; only the destructor may
    // run after it is gone.
    explicit TfrmMain(TFeedList& feeds, QWidget* parent = nullptr);
    // FormDestroy: the settings (geometry and splitter) are written, then the renderer, the All
    // Feeds item and the drop target are released. The catalogue is not used any more.
    ~TfrmMain() override;

    // The controls, named as their object names.
    QTreeWidget* tvwFeeds = nullptr;
    QSplitter* Splitter1 = nullptr;
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
    QAction* miExit = nullptr;
    QMenu* miHelp = nullptr;
    QAction* miAbout = nullptr;
    QAction* miViewXMLStruct = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* miProperties = nullptr;
    QAction* miAggregate = nullptr;
    QAction* miDelete = nullptr;
    QAction* acnAddFeed = nullptr;
    QAction* acnAddFolder = nullptr;
    QAction* acnRefresh = nullptr;

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
    // A new selection: the popup menu's state.
    void tvwFeedsChange(QTreeWidgetItem* node);

    // The tree commands.
    void miPropertiesClick();
    // Runs after the action has inverted its own check mark.
    void miAggregateClick();
    void miDeleteClick();
    void acnAddFolderExecute();
    void acnAddFeedExecute();
    // A text dropped on the window: an "http://" address (any letter case) becomes a new feed
    // through the feed dialog; anything else, or no selection, is ignored.
    void UrlDropped(TDropTarget& Sender, const std::string& Text, const QPoint& Point);
    void miExitClick();
    // The about box and the XML viewer belong to later work; until then they do nothing.
    void miAboutClick();
    void miViewXMLStructClick();
    // The refresh commands belong to the news view; until it is built they do nothing.
    void acnRefreshExecute();
    void tbnStopClick();

    // Stops a running refresh. No refresh runs yet (the news view starts them), so this does
    // nothing for now; the program's end calls it before saving and releasing the catalogue.
    void StopRefresh();

    // Saves the catalogue once the event loop is idle; a burst of changes gives one save.
    void ScheduleSave();
    // Whether a scheduled save has not run yet.
    bool SavePending() const { return FSaveTimer.isActive(); }
    // Saves the catalogue now (and drops a scheduled save). A failure shows its message once;
    // the same failure again stays silent until a save succeeds.
    void SaveCatalogue();

    // The drop target registered for this window.
    TDropTarget* DropTarget() const { return FDropTarget.get(); }

private:
    void CreateControls();
    void CreateMenus();
    void ReadSettings();
    void WriteSettings();
    void UpdatePopupMenu(QTreeWidgetItem* node);
    // The parent for a new entry: the selected node, or its parent when it is a feed.
    QTreeWidgetItem* NewEntryParent() const;
    // Runs the feed dialog for a new feed below parent; url fills the address field.
    void AddFeed(QTreeWidgetItem* parent, const std::string& url);
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, TFeedListItem* item, int imageIndex);

    TFeedList& FFeeds;
    std::unique_ptr<TNewsType> FNews;
    QTreeWidgetItem* FAllFeedsNode = nullptr;
    std::unique_ptr<TFeedListItem> FRootItem;
    std::unique_ptr<TDropTarget> FDropTarget;
    QTimer FSaveTimer;
    bool FSaveErrorShown = false;
};

// The main window, created by the program's entry.
extern TfrmMain* frmMain;
