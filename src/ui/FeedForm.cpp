#include "ui/FeedForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <memory>

#include "catalogue/FeedCommands.h"
#include "discovery/DiscoveryFetch.h"
#include "platform/SysUtils.h"
#include "ui/Messages.h"
#include "ui/QtText.h"
#include "url/Url.h"

TfrmFeed* frmFeed = nullptr;

TfrmFeed::TfrmFeed(QWidget* parent) : QDialog(parent) {
    setObjectName("frmFeed");
    setWindowTitle("Feed");
    setModal(true);

    edtURL = new QLineEdit(this);
    edtURL->setObjectName("edtURL");
    edtName = new QLineEdit(this);
    edtName->setObjectName("edtName");
    cbxAggInclude = new QCheckBox("Include into aggregated views", this);
    cbxAggInclude->setObjectName("cbxAggInclude");
    cbxShowAuthor = new QCheckBox("Show extended author names", this);
    cbxShowAuthor->setObjectName("cbxShowAuthor");
    btnOK = new QPushButton("OK", this);
    btnOK->setObjectName("btnOK");
    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    // The buttons are reached by Enter and Esc, not by Tab.
    btnOK->setFocusPolicy(Qt::ClickFocus);
    btnCancel->setFocusPolicy(Qt::ClickFocus);
    btnOK->setDefault(true);
    btnOK->setAutoDefault(false);
    btnCancel->setAutoDefault(false);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");

    auto* urlLabel = new QLabel("Feed &URL:", this);
    urlLabel->setBuddy(edtURL);
    auto* nameLabel = new QLabel("Feed &Name:", this);
    nameLabel->setBuddy(edtName);

    auto* grid = new QGridLayout;
    grid->addWidget(urlLabel, 0, 0);
    grid->addWidget(edtURL, 0, 1);
    grid->addWidget(nameLabel, 1, 0);
    grid->addWidget(edtName, 1, 1);
    grid->addWidget(cbxAggInclude, 2, 1);
    grid->addWidget(cbxShowAuthor, 3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblStatus);
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addLayout(buttons);
    // A dialog border of fixed size; centred on its parent by the dialog itself.
    setFixedSize(432, 189);

    connect(btnOK, &QPushButton::clicked, this, [this] {
        try {
            btnOKClick();
        } catch (const std::exception& e) {
            ShowException(e);
        }
    });
    connect(btnCancel, &QPushButton::clicked, this, &TfrmFeed::reject);
}

TfrmFeed::~TfrmFeed() {
    // The program's end has waited already.
    ReleaseWorkers(FWorkersReleased ? 0 : 1000);
}

bool TfrmFeed::ReleaseWorkers(int waitMs) {
    FWorkersReleased = true;
    const auto start = std::chrono::steady_clock::now();
    StopSearch(waitMs);
    // A result already on its way is dropped with the search.
    if (FSearching)
        SearchEnded();
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return FStoppedSearches.WaitForAll(std::max(0, waitMs - static_cast<int>(spent.count())));
}

void TfrmFeed::StopSearch(int waitMs) {
    if (!FDiscovery)
        return;
    TFeedDiscovery* discovery = FDiscovery;
    FDiscovery = nullptr;
    discovery->Cancel();
    FStoppedSearches.Release(std::unique_ptr<TThread>(discovery), waitMs);
}

void TfrmFeed::btnOKClick() {
    if (TrimView(FromQt(edtURL->text())).empty()) {
        ShowMessage("Please specify a feed URL");
        return;
    }
    CorrectLiveJournalURL();
    // The address is stored as parsed: trimmed, a browser's "feed:" form turned into the address
    // it stands for, the rest normalised. One the reader could never fetch is refused here, with
    // the dialog open, rather than at every refresh.
    const std::string address = ParseFeedURL(FromQt(edtURL->text())).Text();
    if (ToQt(address) != edtURL->text())
        edtURL->setText(ToQt(address));
    // A page's address is looked at first: the feed behind it is what gets stored.
    if (SearchesFeeds && address != NormalizeFeedURL(OriginalURL)) {
        StartSearch(address);
        return;
    }
    Finish();
}

void TfrmFeed::reject() {
    if (!FSearching) {
        QDialog::reject();
        return;
    }
    StopSearch(SearchStopWaitMs);
    SearchEnded();
}

void TfrmFeed::StartSearch(const std::string& url) {
    const int search = ++FSearchNumber;
    FDiscovery = TFeedDiscovery::Start(url, [this, search](const TDiscoveryResult& result) {
        // The thread is released as soon as this returns.
        FDiscovery = nullptr;
        // Handled once the end notification has returned, since a choice among several feeds
        // runs a loop of its own; dropped when this search was stopped meanwhile.
        QTimer::singleShot(0, this, [this, search, result] {
            if (!FSearching || search != FSearchNumber)
                return;
            try {
                SearchDone(result);
            } catch (const std::exception& e) {
                ShowException(e);
            }
        });
    });
    FSearching = true;
    btnOK->setEnabled(false);
    edtURL->setReadOnly(true);
    lblStatus->setText("Looking for the feed...");
}

void TfrmFeed::SearchEnded() {
    FDiscovery = nullptr;
    FSearching = false;
    btnOK->setEnabled(true);
    edtURL->setReadOnly(false);
    lblStatus->clear();
}

void TfrmFeed::SearchDone(const TDiscoveryResult& result) {
    SearchEnded();
    const bool nameBlank = TrimView(FromQt(edtName->text())).empty();
    if (result.Outcome == doFeedsFound) {
        const int chosen = result.Feeds.size() == 1 ? 0 : ChooseFeed(result.Feeds, this);
        if (chosen < 0)
            return;
        const TDiscoveredFeed& feed = result.Feeds[static_cast<size_t>(chosen)];
        edtURL->setText(ToQt(feed.URL));
        if (nameBlank && !feed.Title.empty())
            edtName->setText(ToQt(feed.Title));
    } else if (result.Outcome == doIsFeed) {
        if (nameBlank && !result.FeedTitle.empty())
            edtName->setText(ToQt(result.FeedTitle));
    }
    Finish();
}

void TfrmFeed::Finish() {
    if (TrimView(FromQt(edtName->text())).empty()) {
        const std::optional<TUrl> address = ParseURL(FromQt(edtURL->text()));
        edtName->setText(ToQt(address ? address->Host : std::string()));
    }
    accept();
}

void TfrmFeed::CorrectLiveJournalURL() {
    const std::string url = FromQt(edtURL->text());
    if (!NeedsLiveJournalCorrection(url))
        return;
    if (!AskYesNo("Do you want to correct URL to LiveJournal RSS feed?", true))
        return;
    edtURL->setText(ToQt(LiveJournalFeedURL(url)));
}

TfrmChooseFeed::TfrmChooseFeed(const std::vector<TDiscoveredFeed>& feeds, QWidget* parent) : QDialog(parent) {
    setObjectName("frmChooseFeed");
    setWindowTitle("Choose a Feed");
    setModal(true);
    auto* label = new QLabel("This page names several feeds. Choose the one to add:", this);
    lstFeeds = new QListWidget(this);
    lstFeeds->setObjectName("lstFeeds");
    for (const TDiscoveredFeed& feed : feeds)
        lstFeeds->addItem(
            ToQt(feed.Title.empty() ? DisplayURL(feed.URL) : feed.Title + " - " + DisplayURL(feed.URL)));
    lstFeeds->setCurrentRow(0);
    btnOK = new QPushButton("OK", this);
    btnOK->setObjectName("btnOK");
    btnOK->setDefault(true);
    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(lstFeeds);
    layout->addLayout(buttons);
    resize(480, 240);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lstFeeds, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

int ChooseFeed(const std::vector<TDiscoveredFeed>& feeds, QWidget* parent) {
    TfrmChooseFeed dialog(feeds, parent);
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return dialog.lstFeeds->currentRow();
}
