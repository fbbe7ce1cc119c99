// The program's entry: start-up and shutdown in their order, nothing else.
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSettings>

#include "app/Catalogue.h"
#include "app/SignalBridge.h"
#include "app/SingleInstance.h"
#include "catalogue/FeedListCls.h"
#include "news/ItemIdentity.h"
#include "platform/DataFolder.h"
#include "platform/TimeZone.h"
#include "store/ItemStore.h"
#include "ui/FeedForm.h"
#include "ui/MainForm.h"
#include "ui/Messages.h"
#include "ui/NewsBrowser.h"
#include "ui/ProdInfo.h"
#include "ui/QtDispatcher.h"

#ifdef TOVELRSS_TEST_BUILD
#include "app/TestMessages.h"
#endif

namespace {

void BringToFront(QWidget* window) {
    window->show();
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
}

} // namespace

int main(int argc, char** argv) {
    // The news view's web engine shares OpenGL contexts, which must be asked for before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setDesktopFileName("tovelrss");
    QApplication::setWindowIcon(QIcon(":/app/tovelrss.svg"));
    FillProductInfo();
#ifdef TOVELRSS_TEST_BUILD
    InstallTestMessagesFromEnvironment();
#endif
    // The workers' calls reach the window through the event loop, from before the first window
    // until after the last worker has been given up.
    TQtDispatcher dispatcher;
    // SIGTERM, SIGINT and SIGHUP end the event loop like closing the window, so the same saves run.
    TSignalBridge stopSignals([](int) { QCoreApplication::exit(0); });

    std::string dataFolder;
    try {
        dataFolder = DataFolder();
    } catch (const ENoHomeFolder& e) {
        // Never a shared folder instead: others could read or plant the catalogue there.
        ShowException(e);
        return 1;
    }
    TSingleInstance guard(dataFolder);
    if (!guard.Acquire())
        return 0;

    std::unique_ptr<TFeedList> feeds = OpenCatalogue(dataFolder + "feeds.data");
    if (!feeds)
        return 1;
    FeedList = feeds.get();

    // The read state of the news: a store made new (first run, or a damaged one set aside) takes
    // the cached items as read. No failure of it stops the program; the window says so.
    // It opens (and checks its pages) while the window is made.
    TItemStore itemStore;
    TItemStoreOpening opening(itemStore, *FeedList, NowUTC());

    frmMain = new TfrmMain(*FeedList, nullptr, CreateNewsView);
    opening.Wait();
    frmMain->SetItemStore(&itemStore);
    frmFeed = new TfrmFeed(frmMain);
    frmMain->SetFeedDialog(frmFeed);
    QObject::connect(&guard, &TSingleInstance::RaiseRequested, frmMain, [] { BringToFront(frmMain); });
    frmMain->show();

    QApplication::exec();

    // The feed search and the refresh stop first; a worker stuck in a name lookup cannot be
    // waited for.
    const bool searchesEnded = frmFeed->ReleaseWorkers();
    const bool refreshesEnded = frmMain->ReleaseWorkers();
    // Written once, here, where a failure can be shown; the release writes nothing more.
    SaveCatalogue(*FeedList);
    feeds->SkipSaveOnDestroy();
    FeedList = nullptr;
    feeds.reset();
    frmMain->SetFeedDialog(nullptr);
    delete frmFeed;
    frmFeed = nullptr;
    delete frmMain;
    frmMain = nullptr;
    Settings().sync();
    // A normal exit would release what that worker still uses under it; everything is saved.
    if (!searchesEnded || !refreshesEnded)
        _exit(0);
    return 0;
}
