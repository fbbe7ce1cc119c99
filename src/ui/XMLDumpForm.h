#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

class QPlainTextEdit;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TXMLNode;

// The XML structure viewer: one cached document as the element tree the reader built from it and
// as the file's text. It only shows what it is given.
class TfrmXMLDump : public QDialog {
    Q_OBJECT
public:
    explicit TfrmXMLDump(QWidget* parent = nullptr);
    // Takes the tree apart without recursion: a document may nest deeper than the stack allows.
    ~TfrmXMLDump() override;

    // Appends a tree item with the node's name under parent (at the top when parent is null), then
    // one under it for every child, in document order; items start collapsed. Returns the item.
    QTreeWidgetItem* AddNodeToTree(QTreeWidgetItem* parent, TXMLNode& node);
    // The node an item of TreeView stands for.
    static TXMLNode* NodeOf(const QTreeWidgetItem* item);
    // Sizes the window so that with its frame it measures 493 x 352.
    void FitOuterSize();

protected:
    void showEvent(QShowEvent* event) override;

public:
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QTreeWidget* TreeView;
    QWidget* TabSheet2;
    QPlainTextEdit* Memo1;
};

// The file's text as the news reader reads it: a UTF-16 or UTF-32 document (by its byte-order
// mark, or the zero bytes around its first "<") as UTF-8, any other as it is. Raises
// EFOpenError "Cannot open file %s" when the file cannot be read.
std::string ReadXMLText(const std::string& fileName);

// Builds the viewer with the caption as its title, the file's lines on "Source" and the document's
// tree on "XML", without showing it. Raises EFOpenError "Cannot open file %s" when the file cannot
// be read; the document must outlive the window.
std::unique_ptr<TfrmXMLDump> CreateXMLDump(const std::string& caption, const std::string& fileName,
                                           TXMLNode& document, QWidget* parent = nullptr);

// Shows the viewer modally (CreateXMLDump, then waits until the user closes it); the window is
// gone when this returns and the document stays the caller's.
void ShowXMLStructure(const std::string& caption, const std::string& fileName, TXMLNode& document,
                      QWidget* parent = nullptr);

namespace detail {
// The text split into lines at every CR, LF and CR LF; a break at the very end starts no line.
std::vector<std::string> SplitSourceLines(const std::string& text);
} // namespace detail
