#include "ui/NewsBrowser.h"

TPlainBrowser::TPlainBrowser(QWidget* parent) : FWidget(new QWidget(parent)) {
    FWidget->setAutoFillBackground(true);
    FWidget->setBackgroundRole(QPalette::Base);
    FWidget->setFocusPolicy(Qt::StrongFocus);
}
