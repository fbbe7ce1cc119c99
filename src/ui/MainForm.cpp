#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDrag>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "news/NewsTypeCls.h"
#include "platform/SysUtils.h"
#include "platform/Thread.h"
#include "refresh/CacheFiles.h"
#include "refresh/FeedsRefresh.h"
#include "ui/About.h"
#include "ui/FeedForm.h"
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

const int kItemRole = Qt::UserRole;
const int kImageRole = Qt::UserRole + 1;
// The drag of a node inside the tree; it carries nothing, the selected node is what moves.
const char* const kNodeMimeType = "application/x-tovelrss-node";

const char* const kGeometryKey = "MainWindow/Geometry";
const char* const kSplitterKey = "MainWindow/Splitter";

// Runs a handler; an exception that escapes it is shown, and the program goes on.
template <class F> void Guarded(F handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e);
    }
}

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

// Ends an in-place edit through the window's rule for names.
class TNodeDelegate : public QStyledItemDelegate {
public:
    TNodeDelegate(TfrmMain& form, TFeedTree& tree) : QStyledItemDelegate(&tree), FForm(form), FTree(tree) {}

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        QTreeWidgetItem* node = FTree.NodeFromIndex(index);
        if (!line || !node)
            return;
        std::string text = FromQt(line->text());
        Guarded([&] { FForm.tvwFeedsEdited(node, text); });
    }

private:
    TfrmMain& FForm;
    TFeedTree& FTree;
};

// Hands the refresh thread's calls to the user-interface thread: each wake posts one run of the
// queue to the event loop. What escapes a call there is shown, and the program goes on.
class TQtDispatcher : public IThreadDispatcher {
public:
    void Wake() override {
        QMetaObject::invokeMethod(
            qApp, [] { Guarded([] { CheckSynchronize(); }); }, Qt::QueuedConnection);
    }
};

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

TfrmMain::TfrmMain(TFeedList& feeds, QWidget* parent, const TNewsBrowserFactory& makeBrowser)
    : QMainWindow(parent), FFeeds(feeds), FDispatcher(std::make_unique<TQtDispatcher>()), FRefresher(feeds) {
    InitImages();
    SetThreadDispatcher(FDispatcher.get());
    setObjectName("frmMain");
    resize(696, 480);
    CreateControls(makeBrowser);
    CreateMenus();

    FRefresher.OnStatus = [this](const std::string& text) { StatusPanel0->setText(ToQt(text)); };
    FRefresher.OnError = [](const std::string& message) { ShowMessage(message); };
    FRefresher.OnFinished = [this] { Guarded([&] { RefreshFinished(); }); };

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
    // No refresh may end into a window that is going away.
    FRefresher.Shutdown(0);
    if (FBusyCursor)
        QApplication::restoreOverrideCursor();
    SetThreadDispatcher(nullptr);
    FNews.reset();
    FRootItem.reset();
    FDropTarget.reset();
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
    acnAddFeed->setStatusTip("Add Feed");
    connect(acnAddFeed, &QAction::triggered, this, [this] { Guarded([&] { acnAddFeedExecute(); }); });
    acnAddFolder = new QAction(QIcon(ImtTools[3]), "Add Folder", this);
    acnAddFolder->setObjectName("acnAddFolder");
    acnAddFolder->setToolTip("Add Folder");
    acnAddFolder->setStatusTip("Add Folder");
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
    cbxNewsFilter->addItems({"Last day", "Last 2 days", "Last week", "Last 2 weeks", "Last month", "All"});
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
    StatusPanel1 = new QLabel(StatusBar);
    StatusPanel1->setObjectName("StatusPanel1");
    StatusPanel1->setFixedWidth(50);
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
    miDelete = PopupMenu->addAction("Delete");
    miDelete->setObjectName("miDelete");
    miDelete->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    // Ctrl+Del deletes while the tree has the focus, also with the menu closed.
    miDelete->setShortcutContext(Qt::WidgetShortcut);
    tvwFeeds->addAction(miDelete);
    connect(miDelete, &QAction::triggered, this, [this] { Guarded([&] { miDeleteClick(); }); });
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
    ScheduleSave();
}

void TfrmMain::tvwFeedsChange(QTreeWidgetItem* node) {
    UpdatePopupMenu(node);
    const TFeedListItem* item = NodeItem(node);
    if (!item)
        return;
    if (!item->ErrorText.empty()) {
        ShowError(item->ErrorText);
        return;
    }
    ForceRefresh = false;
    StartRefresh();
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
    if (!frmFeed)
        return;
    frmFeed->edtName->setText(ToQt(item->FeedName));
    frmFeed->edtURL->setText(ToQt(item->FeedURL));
    frmFeed->cbxAggInclude->setChecked(item->AggInclude);
    frmFeed->cbxShowAuthor->setChecked(item->ShowAuthor);
    frmFeed->edtURL->setFocus();
    if (frmFeed->exec() != QDialog::Accepted)
        return;
    // A refresh that runs on the old address drops its outcome for the new one itself.
    const std::string url = FromQt(frmFeed->edtURL->text());
    ApplyFeedProperties(*item, FromQt(frmFeed->edtName->text()), url, frmFeed->cbxAggInclude->isChecked(),
                        frmFeed->cbxShowAuthor->isChecked());
    SetNodeText(node, item->FeedName);
    UpdatePopupMenu(tvwFeeds->currentItem());
    ScheduleSave();
}

void TfrmMain::miAggregateClick() {
    QTreeWidgetItem* node = tvwFeeds->currentItem();
    if (!node || node == FAllFeedsNode) {
        UpdatePopupMenu(node);
        return;
    }
    NodeItem(node)->AggInclude = miAggregate->isChecked();
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
    DeleteFeedEntries(FFeeds, *item, descendants, [this](const TFeedListItem& entry) {
        if (FNews)
            FNews->DropFeedItems(&entry);
    });
    for (QTreeWidgetItem* descendant : descendantNodes)
        descendant->setData(0, kItemRole, QVariant());
    node->setData(0, kItemRole, QVariant());
    ScheduleSave();
    // The tree then selects another node, which counts as a selection change.
    delete node;
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
    if (!frmFeed)
        return;
    frmFeed->edtName->setText(QString());
    frmFeed->edtURL->setText(ToQt(url));
    frmFeed->cbxAggInclude->setChecked(true);
    frmFeed->cbxShowAuthor->setChecked(false);
    frmFeed->edtURL->setFocus();
    if (frmFeed->exec() != QDialog::Accepted)
        return;
    TFeedListItem* item = FFeeds.Add(NodeItem(parent)->FeedID, FromQt(frmFeed->edtName->text()),
                                     FromQt(frmFeed->edtURL->text()));
    item->AggInclude = frmFeed->cbxAggInclude->isChecked();
    item->ShowAuthor = frmFeed->cbxShowAuthor->isChecked();
    AddNode(parent, item, 1);
    parent->setExpanded(true);
    ScheduleSave();
}

void TfrmMain::UrlDropped(TDropTarget&, const std::string& Text, const QPoint&) {
    if (!IsDroppedFeedURL(Text))
        return;
    if (QTreeWidgetItem* parent = NewEntryParent())
        AddFeed(parent, Text);
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
    document.LoadFromFile(fileName);
    ShowXMLStructure(item->FeedID, fileName, document, this);
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
        FRefresher.Start([this, node, item](TFeedList&) {
            if (!item->FeedURL.empty())
                item->RefreshMark = true;
            else
                MarkForRefresh(node, true);
        });
    } catch (...) {
        // No refresh runs, so none will end: the window is idle again.
        if (!FRefresher.IsRunning())
            RefreshFinished();
        throw;
    }
}

void TfrmMain::MarkForRefresh(QTreeWidgetItem* node, bool topLevel) {
    TFeedListItem* item = NodeItem(node);
    if (!item)
        return;
    if (item->AggInclude)
        item->RefreshMark = true;
    else if (!topLevel)
        return;
    for (int i = 0; i < node->childCount(); ++i)
        MarkForRefresh(node->child(i), false);
}

void TfrmMain::RefreshFinished() {
    tbnStop->setEnabled(false);
    if (FBusyCursor) {
        QApplication::restoreOverrideCursor();
        FBusyCursor = false;
    }
    StatusPanel0->clear();
    FNews->LoadMarkedFeeds();
    UpdateFeedIcons();
    const TFeedListItem* item = NodeItem(tvwFeeds->currentItem());
    if (item && !item->ErrorText.empty())
        ShowError(item->ErrorText);
    else
        ShowNewsPage();
}

void TfrmMain::StopRefresh() {
    FRefresher.Stop(1000);
}

namespace {

void UpdateNodeIcons(QTreeWidgetItem* node) {
    const TFeedListItem* item = TfrmMain::NodeItem(node);
    if (item && !item->FeedURL.empty() && item->RefreshMark) {
        const bool failed = !item->ErrorText.empty();
        TfrmMain::SetNodeImage(node, failed ? 2 : 1);
        // So the user sees why a feed of a folder failed without selecting it.
        node->setToolTip(0, failed ? ToQt(item->ErrorText) : QString());
    }
    for (int i = 0; i < node->childCount(); ++i)
        UpdateNodeIcons(node->child(i));
}

} // namespace

void TfrmMain::UpdateFeedIcons() {
    for (int i = 0; i < tvwFeeds->topLevelItemCount(); ++i)
        UpdateNodeIcons(tvwFeeds->topLevelItem(i));
}

void TfrmMain::ShowError(const std::string& text) {
    FNews->WriteErrorPage(text);
    FBrowser->Navigate(ToQt(FNews->PagePath));
}

void TfrmMain::ShowNewsPage() {
    const bool pictures = tbnShowPictures->isChecked();
    FNews->RenderPage(cbxNewsFilter->currentIndex(), FromQt(cbxNewsFilter->currentText()), pictures);
    FBrowser->SetPicturesShown(pictures);
    FBrowser->Navigate(ToQt(FNews->PagePath));
}

void TfrmMain::tbnRefreshMouseUp(Qt::KeyboardModifiers modifiers) {
    ForceRefresh = (modifiers & (Qt::ShiftModifier | Qt::ControlModifier)) != 0;
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
    // The view passes on only the texts that belong here.
    StatusPanel0->setText(text);
}

bool TfrmMain::ReleaseWorkers() {
    return FRefresher.Shutdown(1000);
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
