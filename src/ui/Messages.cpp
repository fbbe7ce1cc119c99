#include "ui/Messages.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/ProductName.h"
#include "ui/ProdInfo.h"
#include "ui/QtText.h"

namespace {

IMessages* gMessages = nullptr;

// The active window as parent, so the box stays above it and centred on it.
QWidget* BoxParent() {
    return QApplication::activeWindow();
}

QString Caption() {
    return ToQt(ProductInfo.Title.empty() ? std::string(kProductTitle) : ProductInfo.Title);
}

// A box whose text is shown as it is: messages carry feed names, addresses and servers' texts,
// which must never be read as markup.
QMessageBox::StandardButton RunBox(QMessageBox::Icon icon, const std::string& text,
                                   QMessageBox::StandardButtons buttons,
                                   QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, Caption(), ToQt(text), buttons, BoxParent());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

void ShowMessage(const std::string& text) {
    if (gMessages) {
        gMessages->ShowMessage(text);
        return;
    }
    RunBox(QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool AskYesNo(const std::string& text, bool defaultYes) {
    if (gMessages)
        return gMessages->AskYesNo(text, defaultYes);
    return RunBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                  defaultYes ? QMessageBox::Yes : QMessageBox::No) == QMessageBox::Yes;
}

void ShowException(const std::exception& e) {
    if (gMessages) {
        gMessages->ShowMessage(e.what());
        return;
    }
    RunBox(QMessageBox::Critical, e.what(), QMessageBox::Ok, QMessageBox::Ok);
}

void SetMessagesForTesting(IMessages* messages) {
    gMessages = messages;
}
