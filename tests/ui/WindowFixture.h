#pragma once

#include <memory>

#include <QTreeWidget>

#include "TempDir.h"
#include "UiTestSupport.h"
#include "catalogue/FeedListCls.h"
#include "platform/Files.h"
#include "ui/FeedForm.h"
#include "ui/MainForm.h"

// A catalogue in a temporary data folder and the window over it, with page templates that show
// only the item titles ("<p>{title}</p>"). The window tests' fixtures build on it.
struct TWindowTestBase {
    TempDir Dir;
    ScopedDataFolder Data{Dir.Path()};
    TScriptedMessages Messages;
    TFeedList Feeds{Dir.File("feeds.data")};
    std::unique_ptr<TfrmMain> Form;
    // Released before the window, whose child it is.
    std::unique_ptr<TfrmFeed> Dialog;

    TWindowTestBase() {
        ForceDirectories(Dir.File("template"));
        Dir.Write("template/top.html", "<html><body>");
        Dir.Write("template/item.html", "<p>{title}</p>");
        Dir.Write("template/bottom.html", "</body></html>");
    }

    // Creates the window over the catalogue as it stands, with its feed dialog.
    void Open() {
        Form = std::make_unique<TfrmMain>(Feeds);
        Dialog = std::make_unique<TfrmFeed>(Form.get());
        Form->SetFeedDialog(Dialog.get());
    }

    // Closes the window, its dialog first.
    void Close() {
        Dialog.reset();
        Form.reset();
    }

    QTreeWidgetItem* Node(const QString& text) const { return FindNode(*Form->tvwFeeds, text); }
    TPlainBrowser* Browser() const { return static_cast<TPlainBrowser*>(Form->Browser()); }
};
