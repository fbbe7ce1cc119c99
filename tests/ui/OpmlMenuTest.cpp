#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

#include <unistd.h>

#include "UiTestSupport.h"
#include "catalogue/FeedCommands.h"
#include "catalogue/FeedsFileInternal.h"
#include "catalogue/Opml.h"
#include "ui/MainForm.h"

namespace {

// Picks path in the next file dialog and accepts it.
void PickInNextFileDialog(const std::string& path) {
    WhenModal([path](QWidget& widget) {
        auto* dialog = qobject_cast<QFileDialog*>(&widget);
        QVERIFY2(dialog, "the modal dialog is no file dialog");
        dialog->selectFile(QString::fromStdString(path));
        // Through QDialog, where accept is public; the file dialog checks the choice as on OK.
        static_cast<QDialog*>(dialog)->accept();
    });
}

QStringList MenuTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text().remove(QLatin1Char('&')));
    return texts;
}

QStringList ChildTexts(const QTreeWidgetItem* node) {
    QStringList texts;
    for (int i = 0; i < node->childCount(); ++i)
        texts << node->child(i)->text(0);
    return texts;
}

} // namespace

class OpmlMenuTest : public QObject {
    Q_OBJECT

private slots:
    void importAndExportThroughTheFileMenu() {
        TempDir dir;
        ScopedDataFolder data(dir.Path());
        TScriptedMessages messages;
        TFeedList feeds(dir.File("feeds.data"));
        TFeedListItem* news = feeds.Add("root", "News", "");
        feeds.Add(news->FeedID, "Old", "http://127.0.0.1/old");
        TfrmMain form(feeds);
        QCOMPARE(MenuTexts(form.miFile),
                 QStringList({"Add Feed...", "Add Folder", "-", "Mark All as Read", "-", "Import OPML...",
                              "Export OPML...", "-", "Settings...", "-", "Exit"}));

        // With a feed selected the list goes into the feed's folder, as Add Folder would.
        // Selected quietly: a selection would refresh the feed, and the import must not.
        {
            const QSignalBlocker quiet(form.tvwFeeds);
            form.tvwFeeds->setCurrentItem(FindNode(*form.tvwFeeds, "Old"));
        }
        const std::string list = dir.Write(
            "list.opml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<opml version=\"2.0\"><head><title>x</title></head><body>\n"
            "  <outline text=\"Tech\"><outline text=\"Zeta &amp; co\" xmlUrl=\"http://127.0.0.1/z\"/>\n"
            "    <outline text=\"Alpha\" xmlUrl=\"http://127.0.0.1/a\"/></outline>\n"
            "  <outline text=\"Again\" xmlUrl=\"http://127.0.0.1/old\"/>\n"
            "  <outline text=\"Bee\" xmlUrl=\"http://127.0.0.1/b\"/>\n"
            "</body></opml>");
        PickInNextFileDialog(list);
        form.miImportOpml->trigger();
        QVERIFY(messages.Shown.empty());
        QCOMPARE(form.StatusPanel0->text(), QString("Imported 3 feeds and 1 folder"));
        QTreeWidgetItem* newsNode = FindNode(*form.tvwFeeds, "News");
        // Shown at once and sorted: feeds before folders, names in order.
        QCOMPARE(ChildTexts(newsNode), QStringList({"Bee", "Old", "Tech"}));
        QCOMPARE(ChildTexts(FindNode(*form.tvwFeeds, "Tech")), QStringList({"Alpha", "Zeta & co"}));
        QCOMPARE(TfrmMain::NodeImage(FindNode(*form.tvwFeeds, "Alpha")), 1);
        QCOMPARE(feeds.Count(), 6);
        QVERIFY(!form.Refreshing());
        // Saved as after every other edit.
        QVERIFY(form.SavePending());
        QTRY_VERIFY(!form.SavePending());
        QCOMPARE(detail::LoadFeedsFile(dir.File("feeds.data")).size(), size_t(6));

        // A file that is no list: its message, and nothing changes.
        PickInNextFileDialog(dir.Write("broken.opml", "<opml><body><outline text='x'>"));
        form.miImportOpml->trigger();
        QCOMPARE(messages.Shown, std::vector<std::string>{"The file is not an OPML subscription list"});
        QCOMPARE(feeds.Count(), 6);
        QCOMPARE(ChildTexts(newsNode), QStringList({"Bee", "Old", "Tech"}));
        // Nor one too large to be a list (sparse, so it costs no disk).
        const std::string huge = dir.Write("huge.opml", "<opml><body/></opml>");
        QCOMPARE(truncate(huge.c_str(), kOpmlMaxFileSize + 1), 0);
        PickInNextFileDialog(huge);
        form.miImportOpml->trigger();
        QCOMPARE(messages.Shown.back(), std::string("The file is too large for a subscription list"));
        QCOMPARE(feeds.Count(), 6);

        // Export of the folder the selection is in; it reads back with the same paths.
        PickInNextFileDialog(dir.File("out.opml"));
        form.miExportOpml->trigger();
        QCOMPARE(form.StatusPanel0->text(), QString("Exported 4 feeds"));
        TFeedList back(dir.File("back.data"));
        ImportOpml(back, "root", LoadOpmlFile(dir.File("out.opml")));
        QCOMPARE(back.Count(), 5);
        QCOMPARE(BuildFeedTree(back).size(), size_t(3));

        // Cancel changes nothing.
        WhenModal([](QWidget& dialog) { static_cast<QDialog&>(dialog).reject(); });
        form.miImportOpml->trigger();
        QCOMPARE(feeds.Count(), 6);
    }
};

TOVEL_UI_TEST_MAIN(OpmlMenuTest)
#include "OpmlMenuTest.moc"
