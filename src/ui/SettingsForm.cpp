#include "ui/SettingsForm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QVBoxLayout>

TfrmSettings::TfrmSettings(QWidget* parent) : QDialog(parent) {
    setObjectName("frmSettings");
    setWindowTitle("Settings");
    spnInterval = new QSpinBox(this);
    spnInterval->setObjectName("spnInterval");
    // A week at most; 0 shows as "Off".
    spnInterval->setRange(0, 7 * 24 * 60);
    spnInterval->setSuffix(" min");
    spnInterval->setSpecialValueText("Off");
    chkNotifications = new QCheckBox("Say when a background refresh brings new items", this);
    chkNotifications->setObjectName("chkNotifications");

    auto* form = new QFormLayout;
    form->addRow("Refresh all feeds every:", spnInterval);
    form->addRow(chkNotifications);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("buttons");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

bool TfrmSettings::Execute(int& intervalMinutes, bool& notifications) {
    spnInterval->setValue(intervalMinutes);
    chkNotifications->setChecked(notifications);
    if (exec() != QDialog::Accepted)
        return false;
    intervalMinutes = spnInterval->value();
    notifications = chkNotifications->isChecked();
    return true;
}
