#pragma once

#include <QDialog>

class QCheckBox;
class QSpinBox;

// File, Settings...: how often every feed is refreshed in the background (minutes, 0 for never)
// and whether the tray says what a background refresh brought.
class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSettings(QWidget* parent = nullptr);

    QSpinBox* spnInterval = nullptr;
    QCheckBox* chkNotifications = nullptr;

    // The dialog filled with the values, run; false when it was cancelled, else the values are
    // those chosen.
    bool Execute(int& intervalMinutes, bool& notifications);
};
