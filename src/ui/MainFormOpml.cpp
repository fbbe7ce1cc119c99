// The main window's File commands for subscription lists: Import OPML... and Export OPML...
#include "ui/MainForm.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTreeWidget>

#include "catalogue/Opml.h"
#include "ui/ProdInfo.h"
#include "ui/QtText.h"

namespace {

const char* const kOpmlFilters = "OPML files (*.opml *.xml);;All files (*)";

// The file the user picks in dialog, or "" when the dialog is cancelled. The dialog runs with
// exec(), so that it is modal like every other dialog of the window.
std::string RunFileDialog(QFileDialog& dialog) {
    dialog.setNameFilter(kOpmlFilters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return "";
    return FromQt(dialog.selectedFiles().first());
}

// A file name for a folder's export: its name with the characters a file name cannot hold
// replaced.
QString ExportFileName(const std::string& folderName) {
    QString name = ToQt(Trim(folderName));
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QStringLiteral("feeds"));
    return name + QStringLiteral(".opml");
}

// Sorts the children of node at every level below it.
void SortSubtree(QTreeWidgetItem* node) {
    node->sortChildren(0, Qt::AscendingOrder);
    for (int i = 0; i < node->childCount(); ++i)
        SortSubtree(node->child(i));
}

} // namespace

void TfrmMain::miImportOpmlClick() {
    QTreeWidgetItem* parent = NewEntryParent();
    if (!parent)
        return;
    QFileDialog dialog(this, QStringLiteral("Import OPML"), QDir::homePath());
    dialog.setObjectName("dlgImportOpml");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const std::string path = RunFileDialog(dialog);
    if (path.empty())
        return;
    // Read whole before anything is added: a file that is no list leaves the catalogue as it was.
    const std::vector<TOpmlOutline> outlines = LoadOpmlFile(path);
    const TOpmlImport import = ImportOpml(FFeeds, NodeItem(parent)->FeedID, outlines);
    AddChildNodes(parent, import.Added);
    // A list brings many entries at once: they are shown in order, not each last as it came.
    SortSubtree(parent);
    parent->setExpanded(true);
    StatusPanel0->setText(ToQt(OpmlImportSummary(import)));
    if (!import.Added.empty())
        ScheduleSave();
}

void TfrmMain::miExportOpmlClick() {
    QTreeWidgetItem* folder = NewEntryParent();
    if (!folder)
        return;
    const TFeedListItem* item = NodeItem(folder);
    const bool everything = folder == FAllFeedsNode;
    QFileDialog dialog(this, QStringLiteral("Export OPML"), QDir::homePath());
    dialog.setObjectName("dlgExportOpml");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("opml"));
    dialog.selectFile(everything ? QStringLiteral("feeds.opml") : ExportFileName(item->FeedName));
    const std::string path = RunFileDialog(dialog);
    if (path.empty())
        return;
    const std::string title = everything ? ProductInfo.Title + " subscriptions" : item->FeedName;
    const int feeds = ExportOpml(FFeeds, item->FeedID, title, path);
    StatusPanel0->setText(ToQt(OpmlExportSummary(feeds)));
}
