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

} // namespace

void ShowMessage(const std::string& text) {
    if (gMessages) {
        gMessages->ShowMessage(text);
        return;
    }
    QMessageBox::information(BoxParent(), Caption(), ToQt(text));
}

bool AskYesNo(const std::string& text, bool defaultYes) {
    if (gMessages)
        return gMessages->AskYesNo(text, defaultYes);
    const auto answer =
        QMessageBox::question(BoxParent(), Caption(), ToQt(text), QMessageBox::Yes | QMessageBox::No,
                              defaultYes ? QMessageBox::Yes : QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void ShowException(const std::exception& e) {
    if (gMessages) {
        gMessages->ShowMessage(e.what());
        return;
    }
    QMessageBox::critical(BoxParent(), Caption(), ToQt(e.what()));
}

void SetMessagesForTesting(IMessages* messages) {
    gMessages = messages;
}
