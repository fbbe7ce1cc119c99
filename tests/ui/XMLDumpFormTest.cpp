#include "ui/XMLDumpForm.h"

#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <memory>

#include "TempDir.h"
#include "UiTestSupport.h"
#include "platform/SysUtils.h"
#include "xml/XMLNode.h"

namespace {

// The item's subtree holds exactly the node's element names, in document order, each item
// pointing at its node and collapsed.
void ExpectSameTree(const QTreeWidgetItem* item, TXMLNode& node) {
    QCOMPARE(item->text(0), QString::fromStdString(node.Name));
    QCOMPARE(TfrmXMLDump::NodeOf(item), &node);
    QVERIFY(!item->isExpanded());
    QCOMPARE(item->childCount(), node.ChildCount());
    for (int i = 0; i < node.ChildCount(); ++i)
        ExpectSameTree(item->child(i), node.Child(i));
}

QStringList ChildTexts(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int i = 0; i < item->childCount(); ++i)
        texts.append(item->child(i)->text(0));
    return texts;
}

} // namespace

class XMLDumpFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> Temp;
    TXMLNode Document;

    // Writes the file, loads it as the main window does and builds the viewer on it.
    std::unique_ptr<TfrmXMLDump> Dump(const std::string& text) {
        const std::string path = Temp->Write("feed.xml", text);
        Document.LoadFromString(ReadXMLText(path));
        return CreateXMLDump("feed-id", path, Document);
    }

private slots:
    void init() { Temp = std::make_unique<TempDir>(); }
    void cleanup() { Temp.reset(); }

    void ShowsTheElementTreeAndTheLinesOfATypicalFeed() {
        const std::string rss = "<?xml version=\"1.0\"?>\r\n<rss version=\"2.0\"><channel><title>News</title>"
                                "<item><title>One</title></item><item><title>Two</title></item>"
                                "</channel></rss>";
        const auto form = Dump(rss);
        QCOMPARE(form->windowTitle(), QString("feed-id"));
        QCOMPARE(form->PageControl1->currentIndex(), 0);
        QCOMPARE(form->PageControl1->tabText(0), QString("XML"));
        QCOMPARE(form->PageControl1->tabText(1), QString("Source"));
        QCOMPARE(form->TreeView->indentation(), 19);
        QVERIFY(!form->TreeView->isSortingEnabled());

        // One top item, the document, with an empty name; attributes and texts do not appear.
        QCOMPARE(form->TreeView->topLevelItemCount(), 1);
        const QTreeWidgetItem* top = form->TreeView->topLevelItem(0);
        QCOMPARE(top->text(0), QString());
        QCOMPARE(ChildTexts(top), QStringList({"?xml", "rss"}));
        const QTreeWidgetItem* channel = top->child(1)->child(0);
        QCOMPARE(channel->text(0), QString("channel"));
        // Duplicate names stay separate, in document order.
        QCOMPARE(ChildTexts(channel), QStringList({"title", "item", "item"}));
        ExpectSameTree(top, Document);

        QCOMPARE(form->Memo1->toPlainText(),
                 QString::fromStdString("<?xml version=\"1.0\"?>\n" + rss.substr(23)));
    }

    void WideDocumentsAreReadAsTheNewsReaderReadsThem() {
        const std::u16string rss16 = u"<?xml version=\"1.0\" encoding=\"utf-16\"?>\r\n<rss><channel>"
                                     u"<title>Caf\u00e9 \U0001F600</title></channel></rss>";
        const QString expected = QString::fromStdU16String(rss16).replace("\r\n", "\n");
        // UTF-16, little endian, with its byte-order mark.
        std::string le("\xFF\xFE", 2);
        for (const char16_t unit : rss16) {
            le += static_cast<char>(unit & 0xFF);
            le += static_cast<char>(unit >> 8);
        }
        // UTF-32, big endian, told only by the zero bytes around the first "<".
        std::string be;
        for (const char32_t c : QString::fromStdU16String(rss16).toStdU32String()) {
            for (const int shift : {24, 16, 8, 0})
                be += static_cast<char>((c >> shift) & 0xFF);
        }
        for (const std::string& text : {le, be}) {
            const auto form = Dump(text);
            // The mark, now text before the first tag, is no line of its own.
            QCOMPARE(form->Memo1->toPlainText().remove(QChar(0xFEFF)), expected);
            const QTreeWidgetItem* top = form->TreeView->topLevelItem(0);
            QCOMPARE(ChildTexts(top), QStringList({"?xml", "rss"}));
            QCOMPARE(ChildTexts(top->child(1)->child(0)), QStringList({"title"}));
        }
    }

    void TheFrameIsPartOfItsSize() {
        const auto form = Dump("<rss/>");
        QCOMPARE(form->pos(), QPoint(230, 163));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCoreApplication::processEvents();
        const QMargins frame = form->windowHandle()->frameMargins();
        QCOMPARE(form->size(), QSize(493 - frame.left() - frame.right(), 352 - frame.top() - frame.bottom()));
        QCOMPARE(form->frameGeometry().size(), QSize(493, 352));
        // A frame that appears later is taken into the size as well.
        form->resize(600, 400);
        form->FitOuterSize();
        QCOMPARE(form->frameGeometry().size(), QSize(493, 352));
    }

    void AFinalLineBreakAndAnEmptyFileShowWhatTheReaderMadeOfThem() {
        auto form = Dump("<rss><channel/></rss>\n");
        ExpectSameTree(form->TreeView->topLevelItem(0), Document);
        QCOMPARE(form->Memo1->toPlainText(), QString("<rss><channel/></rss>"));

        form = Dump("");
        QCOMPARE(form->TreeView->topLevelItemCount(), 1);
        QCOMPARE(form->TreeView->topLevelItem(0)->text(0), QString());
        QCOMPARE(form->TreeView->topLevelItem(0)->childCount(), 0);
        QCOMPARE(form->Memo1->toPlainText(), QString());
    }

    void SplitsLinesAtEveryKindOfBreak() {
        using Lines = std::vector<std::string>;
        QCOMPARE(detail::SplitSourceLines("a\rb\nc\r\nd\r\n"), Lines({"a", "b", "c", "d"}));
        QCOMPARE(detail::SplitSourceLines("a\n\r\nb"), Lines({"a", "", "b"}));
        QCOMPARE(detail::SplitSourceLines("\r\r"), Lines({"", ""}));
        QCOMPARE(detail::SplitSourceLines("last"), Lines({"last"}));
        QCOMPARE(detail::SplitSourceLines(""), Lines());
        // A CR and an LF the other way round are two breaks.
        QCOMPARE(detail::SplitSourceLines("a\n\rb"), Lines({"a", "", "b"}));
    }

    void AVanishedFileIsReportedBeforeAnyWindowShows() {
        const std::string path = Temp->File("gone.xml");
        try {
            ShowXMLStructure("feed-id", path, Document);
            QFAIL("no error for a missing file");
        } catch (const EFOpenError& e) {
            QCOMPARE(e.Message(), "Cannot open file " + path);
        }
        QCOMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    void ShowsModallyAndIsGoneWhenClosed() {
        const std::string path = Temp->Write("feed.xml", "<rss><channel/></rss>");
        Document.LoadFromFile(path);
        QString shownTitle;
        bool wasModal = false;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box);
            shownTitle = box->windowTitle();
            wasModal = box->isModal() && qobject_cast<TfrmXMLDump*>(box);
            box->close();
        });
        ShowXMLStructure("feed-id", path, Document);
        QCOMPARE(shownTitle, QString("feed-id"));
        QVERIFY(wasModal);
        QTRY_COMPARE(QApplication::topLevelWidgets().size(), 0);
    }

    void ADeeplyNestedDocumentIsShownAndTornDownWithoutRecursion() {
        constexpr int kDepth = 200000;
        std::string text;
        for (int i = 0; i < kDepth; ++i)
            text += "<a>";
        auto form = Dump(text);
        const QTreeWidgetItem* item = form->TreeView->topLevelItem(0);
        int depth = 0;
        while (item->childCount() == 1) {
            item = item->child(0);
            ++depth;
        }
        QCOMPARE(depth, kDepth);
        form.reset();
    }
};

TOVEL_UI_TEST_MAIN(XMLDumpFormTest)
#include "XMLDumpFormTest.moc"
