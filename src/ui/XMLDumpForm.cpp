#include "ui/XMLDumpForm.h"

#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include "news/NewsTypeCls.h"
#include "platform/Charset.h"
#include "platform/Files.h"
#include "ui/QtText.h"
#include "xml/XMLNode.h"

namespace {

constexpr int kNodeRole = Qt::UserRole;
// The window's outer size, its frame included.
constexpr QSize kOuterSize(493, 352);

// A page of the page control whose one control fills it.
QWidget* FilledPage(QWidget* control) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(control);
    return page;
}

} // namespace

namespace detail {

std::vector<std::string> SplitSourceLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

} // namespace detail

TfrmXMLDump::TfrmXMLDump(QWidget* parent)
    : QDialog(parent), PageControl1(new QTabWidget(this)), TreeView(new QTreeWidget),
      Memo1(new QPlainTextEdit) {
    setObjectName("frmXMLDump");
    QFont font("MS Sans Serif", 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    // The position is the frame's; the size is set again once the frame is known (showEvent).
    move(230, 163);
    resize(kOuterSize);

    TreeView->setObjectName("TreeView");
    TreeView->setHeaderHidden(true);
    TreeView->setIndentation(19);
    TreeView->setSortingEnabled(false);
    TreeView->setColumnCount(1);

    Memo1->setObjectName("Memo1");
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setPlainText("Memo1");

    PageControl1->setObjectName("PageControl1");
    TabSheet1 = FilledPage(TreeView);
    TabSheet1->setObjectName("TabSheet1");
    TabSheet2 = FilledPage(Memo1);
    TabSheet2->setObjectName("TabSheet2");
    PageControl1->addTab(TabSheet1, "XML");
    PageControl1->addTab(TabSheet2, "Source");
    PageControl1->setCurrentIndex(0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PageControl1);
}

TfrmXMLDump::~TfrmXMLDump() {
    // A tree item deletes its children recursively, so a deep document would exhaust the stack.
    // The items out of the view, the chains are cut every kCutDepth levels, deepest first (so
    // that each cut walks one short piece), and the pieces deleted one by one.
    constexpr int kCutDepth = 1000;
    QList<QTreeWidgetItem*> pieces = TreeView->invisibleRootItem()->takeChildren();
    struct TCut {
        QTreeWidgetItem* Parent;
        int Index;
    };
    std::vector<TCut> cuts;
    std::vector<std::pair<QTreeWidgetItem*, int>> pending;
    for (QTreeWidgetItem* top : pieces)
        pending.emplace_back(top, 0);
    while (!pending.empty()) {
        const auto [item, depth] = pending.back();
        pending.pop_back();
        for (int i = 0; i < item->childCount(); ++i) {
            if ((depth + 1) % kCutDepth == 0)
                cuts.push_back({item, i});
            pending.emplace_back(item->child(i), depth + 1);
        }
    }
    // Later cuts lie deeper in their chain or later among their siblings: taking them first keeps
    // every recorded index valid.
    for (auto cut = cuts.rbegin(); cut != cuts.rend(); ++cut)
        pieces.append(cut->Parent->takeChild(cut->Index));
    qDeleteAll(pieces);
}

void TfrmXMLDump::FitOuterSize() {
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const QSize client(kOuterSize.width() - frame.left() - frame.right(),
                       kOuterSize.height() - frame.top() - frame.bottom());
    if (size() != client)
        resize(client);
}

void TfrmXMLDump::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FitOuterSize();
    // Some window managers put their frame around the window only after it is shown.
    QTimer::singleShot(0, this, [this] { FitOuterSize(); });
}

QTreeWidgetItem* TfrmXMLDump::AddNodeToTree(QTreeWidgetItem* parent, TXMLNode& node) {
    // The subtree is built apart from the view and handed over whole, which spares the view one
    // update per node, and with a stack of its own rather than the call stack.
    auto* top = new QTreeWidgetItem(QStringList(ToQt(node.Name)));
    top->setData(0, kNodeRole, QVariant::fromValue(static_cast<void*>(&node)));
    std::vector<std::pair<QTreeWidgetItem*, TXMLNode*>> pending{{top, &node}};
    while (!pending.empty()) {
        const auto [item, xml] = pending.back();
        pending.pop_back();
        const int count = xml->ChildCount();
        QList<QTreeWidgetItem*> children;
        children.reserve(count);
        for (int i = 0; i < count; ++i) {
            TXMLNode& child = xml->Child(i);
            auto* childItem = new QTreeWidgetItem(QStringList(ToQt(child.Name)));
            childItem->setData(0, kNodeRole, QVariant::fromValue(static_cast<void*>(&child)));
            children.append(childItem);
            pending.emplace_back(childItem, &child);
        }
        item->addChildren(children);
    }
    if (parent)
        parent->addChild(top);
    else
        TreeView->addTopLevelItem(top);
    return top;
}

TXMLNode* TfrmXMLDump::NodeOf(const QTreeWidgetItem* item) {
    return item ? static_cast<TXMLNode*>(item->data(0, kNodeRole).value<void*>()) : nullptr;
}

std::string ReadXMLText(const std::string& fileName) {
    std::string text = ReadFileToString(fileName);
    const std::string wide = WideCharset(text);
    return wide.empty() ? text : CharsetToUTF8(text, wide);
}

std::unique_ptr<TfrmXMLDump> CreateXMLDump(const std::string& caption, const std::string& fileName,
                                           TXMLNode& document, QWidget* parent) {
    auto form = std::make_unique<TfrmXMLDump>(parent);
    form->setWindowTitle(ToQt(caption));
    QStringList lines;
    for (const std::string& line : detail::SplitSourceLines(ReadXMLText(fileName)))
        lines.append(ToQt(line));
    form->Memo1->setPlainText(lines.join('\n'));
    form->AddNodeToTree(nullptr, document);
    return form;
}

void ShowXMLStructure(const std::string& caption, const std::string& fileName, TXMLNode& document,
                      QWidget* parent) {
    CreateXMLDump(caption, fileName, document, parent)->exec();
}
