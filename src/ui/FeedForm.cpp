#include "ui/FeedForm.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "catalogue/FeedCommands.h"
#include "platform/SysUtils.h"
#include "refresh/CacheFiles.h"
#include "ui/Messages.h"
#include "ui/QtText.h"

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
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmFeed::btnOKClick() {
    if (TrimView(FromQt(edtURL->text())).empty()) {
        ShowMessage("Please specify a feed URL");
        return;
    }
    CorrectLiveJournalURL();
    // A browser's "feed:" form is stored as the address it stands for.
    const std::string url = FromQt(edtURL->text());
    const std::string normalized = NormalizeFeedURL(url);
    if (normalized != url)
        edtURL->setText(ToQt(normalized));
    if (TrimView(FromQt(edtName->text())).empty())
        edtName->setText(ToQt(ExtractURLHost(FromQt(edtURL->text()))));
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
