#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "cache/CacheFiles.h"
#include "news/ItemStoreWriter.h"
#include "news/NewsTypeCls.h"
#include "platform/SysUtils.h"
#include "refresh/FeedsRefresh.h"
#include "ui/About.h"
#include "ui/FeedForm.h"
#include "ui/FeedTree.h"
#include "ui/Messages.h"
#include "ui/OleDrop.h"
#include "ui/ProdInfo.h"
#include "ui/QtText.h"
#include "ui/XMLDumpForm.h"
#include "xml/XMLNode.h"

TfrmMain* frmMain = nullptr;

const char* const ImtTreeView[3] = {":/images/folder.svg", ":/images/feed.svg", ":/images/feed-error.svg"};
const char* const ImtTools[5] = {":/images/refresh.svg", ":/images/stop.svg", ":/images/add-feed.svg",
                                 ":/images/add-folder.svg", ":/images/pictures.svg"};

void InitImages() {
    // The images live in a static library, so they are pulled in by name.
    Q_INIT_RESOURCE(images);
}

namespace {

// Tells the window of every mouse button released over the Refresh button.
class TMouseUpFilter : public QObject {
public:
    TMouseUpFilter(QToolButton* button, std::function<void(Qt::KeyboardModifiers)> onMouseUp)
        : QObject(button), FButton(button), FOnMouseUp(std::move(onMouseUp)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == FButton && event->type() == QEvent::MouseButtonRelease && FButton->isEnabled()) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (FButton->rect().contains(mouse->position().toPoint()))
                FOnMouseUp(mouse->modifiers());
        }
        return false;
    }

private:
    QToolButton* FButton;
    std::function<void(Qt::KeyboardModifiers)> FOnMouseUp;
};

} // namespace

TfrmMain::TfrmMain(TFeedList& feeds, QWidget* parent, const TNewsBrowserFactory& makeBrowser)
    : QMainWindow(parent), FFeeds(feeds), FRefresher(feeds) {
    InitImages();
    setObjectName("frmMain");
    resize(696, 480);
    CreateControls(makeBrowser);
    CreateMenus();

    FRefresher.OnStatus = [this](const std::string& text) { ShowRefreshStatus(text); };
    FRefresher.OnError = [](const std::string& message) { ShowMessage(message); };
    FRefresher.OnFinished = [this] { Guarded([&] { RefreshFinished(); }); };
    FRefresher.OnOutcome = [this](const TFeedOutcome& outcome) { RecordOutcome(outcome); };
    CreateTimedRefresh();

    FSaveTimer.setSingleShot(true);
    FSaveTimer.setInterval(0);
    connect(&FSaveTimer, &QTimer::timeout, this, [this] { SaveCatalogue(); });
    // The program saves the catalogue itself at its end, after the event loop.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { FSaveTimer.stop(); });

    // FormCreate: a failing step skips the rest, and the window opens all the same.
    try {
        QGuiApplication::setApplicationDisplayName(ToQt(ProductInfo.Title));
        setWindowTitle(ToQt(ProductInfo.Title));
        FRootItem = std::make_unique<TFeedListItem>();
        FRootItem->FeedID = "root";
        FNews = std::make_unique<TNewsType>(FFeeds);
        FBrowser->Navigate(QStringLiteral("about:blank"));
        FillTree();
        ReadSettings();
        FDropTarget = std::make_unique<TDropTarget>();
        FDropTarget->OnDropText = [this](TDropTarget& sender, const std::string& text, const QPoint& point) {
            Guarded([&] { UrlDropped(sender, text, point); });
        };
        FDropTarget->RegisterWindow(this);
    } catch (const std::exception& e) {
        ShowException(e);
    }
    // Without a selection Add Feed, Add Folder and dropped addresses would do nothing. It is no
    // user's choice, so nothing is refreshed or shown for it.
    const bool blocked = tvwFeeds->blockSignals(true);
    if (FAllFeedsNode)
        tvwFeeds->setCurrentItem(FAllFeedsNode);
    tvwFeeds->blockSignals(blocked);
    UpdatePopupMenu(tvwFeeds->currentItem());
}

TfrmMain::~TfrmMain() {
    // The catalogue may be gone already: no handler may run from here on.
    FSaveTimer.stop();
    tvwFeeds->blockSignals(true);
    Guarded([&] { WriteSettings(); });
    // What the store was still to write is written before the store goes.
    FStoreWriter.reset();
    // No refresh may end into a window that is going away.
    FRefresher.Shutdown(0);
    if (FBusyCursor)
        QApplication::restoreOverrideCursor();
    FNews.reset();
    FRootItem.reset();
    FDropTarget.reset();
}

bool TfrmMain::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void TfrmMain::CreateControls(const TNewsBrowserFactory& makeBrowser) {
    auto* tree = new TFeedTree(*this, this);
    tvwFeeds = tree;
    tvwFeeds->setObjectName("tvwFeeds");
    tvwFeeds->setHeaderHidden(true);
    tvwFeeds->setColumnCount(1);
    tvwFeeds->setIconSize(QSize(16, 16));
    tvwFeeds->setSelectionMode(QAbstractItemView::SingleSelection);
    tvwFeeds->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvwFeeds->setItemDelegate(new TNodeDelegate(*this, *tree));
    tvwFeeds->setDragEnabled(true);
    tvwFeeds->setAcceptDrops(true);
    tvwFeeds->setDropIndicatorShown(false);
    tvwFeeds->setDragDropMode(QAbstractItemView::DragDrop);
    tvwFeeds->setContextMenuPolicy(Qt::CustomContextMenu);
    tvwFeeds->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(
        tvwFeeds, &QTreeWidget::currentItemChanged, this,
        [this](QTreeWidgetItem* current, QTreeWidgetItem*) { Guarded([&] { tvwFeedsChange(current); }); });
    // All Feeds is current from the start without having been chosen: the first click on it is
    // the user's choice, though the current node stays the same.
    connect(tvwFeeds, &QTreeWidget::itemPressed, this, [this](QTreeWidgetItem* node, int) {
        if (!FSelectionShown && node == tvwFeeds->currentItem())
            Guarded([&] { tvwFeedsChange(node); });
    });
    connect(tvwFeeds, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu->popup(tvwFeeds->viewport()->mapToGlobal(pos)); });

    FBrowser = makeBrowser ? makeBrowser(this) : std::make_unique<TPlainBrowser>(this);
    FBrowser->OnStatusTextChange = [this](const QString& text) { WebBrowserStatusTextChange(text); };
    WebBrowser = FBrowser->Widget();
    WebBrowser->setObjectName("WebBrowser");

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->addWidget(tvwFeeds);
    Splitter1->addWidget(WebBrowser);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({221, 696 - 221 - 3});
    setCentralWidget(Splitter1);

    acnAddFeed = new QAction(QIcon(ImtTools[2]), "Add Feed...", this);
    acnAddFeed->setObjectName("acnAddFeed");
    acnAddFeed->setToolTip("Add Feed");
    connect(acnAddFeed, &QAction::triggered, this, [this] { Guarded([&] { acnAddFeedExecute(); }); });
    acnAddFolder = new QAction(QIcon(ImtTools[3]), "Add Folder", this);
    acnAddFolder->setObjectName("acnAddFolder");
    acnAddFolder->setToolTip("Add Folder");
    connect(acnAddFolder, &QAction::triggered, this, [this] { Guarded([&] { acnAddFolderExecute(); }); });
    acnRefresh = new QAction("Refresh", this);
    acnRefresh->setObjectName("acnRefresh");
    acnRefresh->setShortcut(QKeySequence(Qt::Key_F5));
    acnRefresh->setShortcutContext(Qt::WindowShortcut);
    addAction(acnRefresh);
    connect(acnRefresh, &QAction::triggered, this, [this] { Guarded([&] { acnRefreshExecute(); }); });

    ToolBar = new QToolBar(this);
    ToolBar->setObjectName("ToolBar");
    ToolBar->setWindowTitle("Toolbar");
    ToolBar->setIconSize(QSize(24, 24));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar);

    auto makeButton = [this](const char* name, int image, const char* hint) {
        auto* button = new QToolButton(ToolBar);
        button->setObjectName(name);
        button->setIcon(QIcon(ImtTools[image]));
        button->setToolTip(hint);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        ToolBar->addWidget(button);
        return button;
    };
    tbnRefresh = makeButton("tbnRefresh", 0, "Refresh");
    // The release of a mouse button is the command, with the keys held at that moment.
    tbnRefresh->installEventFilter(new TMouseUpFilter(tbnRefresh, [this](Qt::KeyboardModifiers modifiers) {
        Guarded([&] { tbnRefreshMouseUp(modifiers); });
    }));
    tbnStop = makeButton("tbnStop", 1, "Stop");
    tbnStop->setEnabled(false);
    connect(tbnStop, &QToolButton::clicked, this, [this] { Guarded([&] { tbnStopClick(); }); });
    tbnAddFeed = makeButton("tbnAddFeed", 2, "Add Feed");
    tbnAddFeed->setDefaultAction(acnAddFeed);
    tbnAddFolder = makeButton("tbnAddFolder", 3, "Add Folder");
    tbnAddFolder->setDefaultAction(acnAddFolder);
    ToolBar->addSeparator();
    cbxNewsFilter = new QComboBox(ToolBar);
    cbxNewsFilter->setObjectName("cbxNewsFilter");
    cbxNewsFilter->addItems(
        {"Last day", "Last 2 days", "Last week", "Last 2 weeks", "Last month", "All", "Unread items"});
    cbxNewsFilter->setCurrentIndex(1);
    cbxNewsFilter->setToolTip("News filter");
    cbxNewsFilter->setFocusPolicy(Qt::ClickFocus);
    cbxNewsFilter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    ToolBar->addWidget(cbxNewsFilter);
    connect(cbxNewsFilter, &QComboBox::activated, this, [this] { Guarded([&] { cbxNewsFilterClick(); }); });
    tbnShowPictures = makeButton("tbnShowPictures", 4, "Show/Hide Pictures");
    tbnShowPictures->setCheckable(true);
    connect(tbnShowPictures, &QToolButton::clicked, this,
            [this] { Guarded([&] { tbnShowPicturesClick(); }); });

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    StatusPanel0 = new QLabel(StatusBar);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setFixedWidth(300);
    // Feed names, server texts and addresses go into the panels: never read as markup.
    StatusPanel0->setTextFormat(Qt::PlainText);
    StatusPanel1 = new QLabel(StatusBar);
    StatusPanel1->setObjectName("StatusPanel1");
    StatusPanel1->setFixedWidth(50);
    StatusPanel1->setTextFormat(Qt::PlainText);
    StatusPanel1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    StatusBar->addWidget(StatusPanel0);
    StatusBar->addPermanentWidget(StatusPanel1);
    setStatusBar(StatusBar);
}

void TfrmMain::CreateMenus() {
    // A menu item bound to an action is that action in Qt; these items mirror theirs.
    auto mirror = [this](QAction* action, const char* name) {
        auto* item = new QAction(action->icon(), action->text(), this);
        item->setObjectName(name);
        item->setToolTip(action->toolTip());
        connect(item, &QAction::triggered, action, &QAction::trigger);
        connect(action, &QAction::enabledChanged, item, &QAction::setEnabled);
        return item;
    };
    miFile = menuBar()->addMenu("&File");
    miFile->setObjectName("miFile");
    miAddFeed = mirror(acnAddFeed, "miAddFeed");
    miAddFolder = mirror(acnAddFolder, "miAddFolder");
    miFile->addAction(miAddFeed);
    miFile->addAction(miAddFolder);
    miFile->addSeparator();
    miMarkAllRead = miFile->addAction("&Mark All as Read");
    miMarkAllRead->setObjectName("miMarkAllRead");
    connect(miMarkAllRead, &QAction::triggered, this, [this] { Guarded([&] { miMarkAllReadClick(); }); });
    miFile->addSeparator();
    miImportOpml = miFile->addAction("&Import OPML...");
    miImportOpml->setObjectName("miImportOpml");
    connect(miImportOpml, &QAction::triggered, this, [this] { Guarded([&] { miImportOpmlClick(); }); });
    miExportOpml = miFile->addAction("&Export OPML...");
    miExportOpml->setObjectName("miExportOpml");
    connect(miExportOpml, &QAction::triggered, this, [this] { Guarded([&] { miExportOpmlClick(); }); });
    miFile->addSeparator();
    miExit = miFile->addAction("E&xit");
    miExit->setObjectName("miExit");
    connect(miExit, &QAction::triggered, this, [this] { Guarded([&] { miExitClick(); }); });

    miHelp = menuBar()->addMenu("&Help");
    miHelp->setObjectName("miHelp");
    miAbout = miHelp->addAction("&About");
    miAbout->setObjectName("miAbout");
    connect(miAbout, &QAction::triggered, this, [this] { Guarded([&] { miAboutClick(); }); });
    miViewXMLStruct = miHelp->addAction("View XML Struct");
    miViewXMLStruct->setObjectName("miViewXMLStruct");
    connect(miViewXMLStruct, &QAction::triggered, this, [this] { Guarded([&] { miViewXMLStructClick(); }); });

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName("PopupMenu");
    miProperties = PopupMenu->addAction("Edit");
    miProperties->setObjectName("miProperties");
    connect(miProperties, &QAction::triggered, this, [this] { Guarded([&] { miPropertiesClick(); }); });
    miAggregate = PopupMenu->addAction("Aggregate");
    miAggregate->setObjectName("miAggregate");
    miAggregate->setCheckable(true);
    connect(miAggregate, &QAction::triggered, this, [this] { Guarded([&] { miAggregateClick(); }); });
    PopupMenu->addSeparator();
    miMarkRead = PopupMenu->addAction("Mark as Read");
    miMarkRead->setObjectName("miMarkRead");
    connect(miMarkRead, &QAction::triggered, this, [this] { Guarded([&] { miMarkReadClick(); }); });
    miMarkUnread = PopupMenu->addAction("Mark as Unread");
    miMarkUnread->setObjectName("miMarkUnread");
    connect(miMarkUnread, &QAction::triggered, this, [this] { Guarded([&] { miMarkUnreadClick(); }); });
    PopupMenu->addSeparator();
    miDelete = PopupMenu->addAction("Delete");
    miDelete->setObjectName("miDelete");
    miDelete->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    // Ctrl+Del deletes while the tree has the focus, also with the menu closed.
    miDelete->setShortcutContext(Qt::WidgetShortcut);
    tvwFeeds->addAction(miDelete);
    connect(miDelete, &QAction::triggered, this, [this] { Guarded([&] { miDeleteClick(); }); });
}

TFeedListItem* TfrmMain::NodeItem(const QTreeWidgetItem* node) {
    if (!node)
        return nullptr;
    return reinterpret_cast<TFeedListItem*>(node->data(0, kItemRole).value<quintptr>());
}

int TfrmMain::NodeImage(const QTreeWidgetItem* node) {
    return node ? node->data(0, kImageRole).toInt() : 0;
}

void TfrmMain::SetNodeImage(QTreeWidgetItem* node, int imageIndex) {
    node->setData(0, kImageRole, imageIndex);
    node->setIcon(0, QIcon(ImtTreeView[imageIndex]));
}

int TfrmMain::tvwFeedsCompare(const QTreeWidgetItem* node1, const QTreeWidgetItem* node2) {
    return CompareFeedNodes(NodeImage(node1), FromQt(node1->text(0)), NodeImage(node2),
                            FromQt(node2->text(0)));
}

void TfrmMain::SetNodeText(QTreeWidgetItem* node, const std::string& text) {
    node->setText(0, ToQt(text));
    if (QTreeWidgetItem* parent = node->parent())
        parent->sortChildren(0, Qt::AscendingOrder);
}

QTreeWidgetItem* TfrmMain::AddNode(QTreeWidgetItem* parent, TFeedListItem* item, int imageIndex) {
    auto* node = new TFeedNode;
    node->setText(0, ToQt(item->FeedName));
    node->setData(0, kItemRole, QVariant::fromValue(reinterpret_cast<quintptr>(item)));
    node->setFlags(node->flags() | Qt::ItemIsEditable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled);
    SetNodeImage(node, imageIndex);
    parent->addChild(node);
    return node;
}

void TfrmMain::FillTree() {
    tvwFeeds->clear();
    FAllFeedsNode = nullptr;
    auto* top = new TFeedNode;
    top->setText(0, "All Feeds");
    top->setData(0, kItemRole, QVariant::fromValue(reinterpret_cast<quintptr>(FRootItem.get())));
    top->setFlags((top->flags() | Qt::ItemIsDropEnabled) & ~Qt::ItemIsEditable);
    SetNodeImage(top, 0);
    tvwFeeds->addTopLevelItem(top);
    FAllFeedsNode = top;
    AddChildNodes(top, BuildFeedTree(FFeeds, FRootItem->FeedID));
    top->setExpanded(true);
    tvwFeeds->sortItems(0, Qt::AscendingOrder);
}

void TfrmMain::AddChildNodes(QTreeWidgetItem* node, const std::vector<TFeedTreeEntry>& children) {
    for (const TFeedTreeEntry& child : children) {
        if (child.Item->FeedURL.empty()) {
            QTreeWidgetItem* folder = AddNode(node, child.Item, 0);
            AddChildNodes(folder, child.Children);
        } else {
            AddNode(node, child.Item, 1);
        }
    }
}

void TfrmMain::UpdatePopupMenu(QTreeWidgetItem* node) {
    const bool editable = node && node != FAllFeedsNode;
    const TFeedListItem* item = NodeItem(node);
    const bool isFeed = editable && item && !item->FeedURL.empty();
    miDelete->setEnabled(editable);
    miProperties->setEnabled(editable);
    miProperties->setText(isFeed ? "Edit" : "Rename");
    PopupMenu->setDefaultAction(isFeed ? miProperties : nullptr);
    miAggregate->setEnabled(editable);
    miAggregate->setChecked(editable && item && item->AggInclude);
    miMarkRead->setEnabled(node != nullptr);
    miMarkUnread->setEnabled(isFeed);
}

void TfrmMain::miExitClick() {
    close();
}

void TfrmMain::miAboutClick() {
    ShowAbout(ProductInfo, this);
}

void TfrmMain::miViewXMLStructClick() {
    const TFeedListItem* item = NodeItem(tvwFeeds->currentItem());
    if (!item)
        return;
    const std::string fileName = CacheFileName(item->FeedID);
    TXMLNode document;
    document.LoadFromString(ReadXMLText(fileName));
    ShowXMLStructure(item->FeedID, fileName, document, this);
}

void TfrmMain::ScheduleSave() {
    FSaveTimer.start();
}

void TfrmMain::SaveCatalogue() {
    FSaveTimer.stop();
    try {
        FFeeds.Save();
        FSaveErrorShown = false;
    } catch (const std::exception& e) {
        if (!FSaveErrorShown) {
            FSaveErrorShown = true;
            ShowException(e);
        }
    }
}
