#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The feed dialog: address, name and two options of a new or an existing feed. It checks that an
// address was given, offers the LiveJournal correction and supplies a default name; it does not
// touch the catalogue. The caller sets all four values, focuses edtURL, runs exec() and reads the
// values back (untrimmed) when it returns Accepted.
class TfrmFeed : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFeed(QWidget* parent = nullptr);

    QLineEdit* edtURL;
    QLineEdit* edtName;
    QCheckBox* cbxAggInclude;
    QCheckBox* cbxShowAuthor;
    QPushButton* btnOK;
    QPushButton* btnCancel;

    // OK or Enter: a blank address is refused with "Please specify a feed URL" (the dialog stays
    // open); else the LiveJournal correction, a browser's "feed:" form turned into its http or
    // https address, a default name from the address's host when the name is blank, and the
    // dialog ends with OK. Any other address, https included, is taken as typed.
    void btnOKClick();
    // Asks whether a LiveJournal blog address is to become its feed address, and corrects the
    // field on Yes.
    void CorrectLiveJournalURL();
};

// The one feed dialog, created after the main window.
extern TfrmFeed* frmFeed;
