#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "platform/WorkerKeeper.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class TFeedDiscovery;
struct TDiscoveredFeed;
struct TDiscoveryResult;

// The feed dialog: address, name and two options of a new or an existing feed. It checks that an
// address was given, offers the LiveJournal correction, looks for the feed behind a page's
// address and supplies a default name; it does not touch the catalogue. The caller sets all four
// values and OriginalURL, focuses edtURL, runs exec() and reads the values back when it returns
// Accepted: the address normalised, the name as typed.
class TfrmFeed : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFeed(QWidget* parent = nullptr);
    // Stops a search still running and waits for its thread as ReleaseWorkers(1000) does (with no
    // further wait after a ReleaseWorkers of the program's own); one still busy then is left to
    // the end of the program.
    ~TfrmFeed() override;

    QLineEdit* edtURL;
    QLineEdit* edtName;
    QCheckBox* cbxAggInclude;
    QCheckBox* cbxShowAuthor;
    QPushButton* btnOK;
    QPushButton* btnCancel;
    // What the dialog is doing ("Looking for the feed..." while it searches); empty otherwise.
    QLabel* lblStatus;

    // The address of the feed being edited; "" for a new feed. The search runs only for an
    // address that differs from it, so that editing a feed's name fetches nothing.
    std::string OriginalURL;
    // Whether OK looks for the feed behind an address at all; on unless turned off.
    bool SearchesFeeds = true;

    // OK or Enter: a blank address is refused with "Please specify a feed URL" (the dialog stays
    // open); else the LiveJournal correction, then the address parsed (ParseFeedURL: one that
    // does not parse, or a password over plain http, is refused with its message and the dialog
    // stays open) and put back normalised (TUrl::Text(): trimmed, a browser's "feed:" form
    // turned into its http or https address). An address other than OriginalURL (both
    // normalised) is then fetched in the background (Searching: OK disabled, the status shown): a
    // page that names one feed gives that feed's address, one that names several lets the user
    // choose (ChooseFeed; declining leaves the dialog open), and a blank name takes the feed's
    // title (the link's, or the feed document's when the address is a feed itself). An address
    // that is a feed, names none or cannot be fetched stays as it is. Last, a default name from
    // the address's host when the name is still blank, and the dialog ends with OK.
    void btnOKClick();
    // Whether a search runs.
    bool Searching() const { return FSearching; }
    // Cancel or Esc: stops a running search (the dialog stays open with the address as typed),
    // else closes the dialog. The search's thread is stopped as a refresh is: its exchange ends
    // at once and it gets up to SearchStopWaitMs to end; one still busy (a name lookup) is given
    // up and kept until it has ended.
    void reject() override;
    // For the program's end: stops a running search without a word to the dialog and waits up to
    // waitMs for every search thread stopped so far; false when one is still busy (a name
    // lookup), and the program must then end with _exit once everything is saved.
    bool ReleaseWorkers(int waitMs = 1000);
    // How many stopped search threads have not ended yet.
    size_t StoppedSearches() { return FStoppedSearches.Count(); }

    // The wait for a stopped search's thread (Cancel, Esc).
    int SearchStopWaitMs = 1000;
    // Asks whether a LiveJournal blog address is to become its feed address, and corrects the
    // field on Yes.
    void CorrectLiveJournalURL();

private:
    void StartSearch(const std::string& url);
    // Stops the running search's thread (nothing of it reaches the dialog any more) and hands it
    // to FStoppedSearches with a wait of waitMs.
    void StopSearch(int waitMs);
    // Ends a search: OK enabled again and the status cleared.
    void SearchEnded();
    void SearchDone(const TDiscoveryResult& result);
    // The default name and the end with OK.
    void Finish();

    // The running search's thread; null once it has ended (it releases itself) or been stopped.
    TFeedDiscovery* FDiscovery = nullptr;
    // The stopped searches' threads, until they have ended.
    TWorkerKeeper FStoppedSearches;
    // Whether ReleaseWorkers has run.
    bool FWorkersReleased = false;
    // From OK until the result has been taken or the search stopped.
    bool FSearching = false;
    // Tells a late result of a stopped search from the current one's.
    int FSearchNumber = 0;
};

// The choice among the feeds a page names: a list of "title - address" lines (the address alone
// for a feed without a title; a password in it shown as "***"), the first selected, OK and
// Cancel. Run by exec().
class TfrmChooseFeed : public QDialog {
    Q_OBJECT
public:
    TfrmChooseFeed(const std::vector<TDiscoveredFeed>& feeds, QWidget* parent = nullptr);

    QListWidget* lstFeeds;
    QPushButton* btnOK;
    QPushButton* btnCancel;
};

// Runs TfrmChooseFeed over feeds; the index chosen, or -1 when the user declined.
int ChooseFeed(const std::vector<TDiscoveredFeed>& feeds, QWidget* parent);

// The one feed dialog, created by the program after the main window and handed to it.
extern TfrmFeed* frmFeed;
