#include "ui/QtDispatcher.h"

#include <QCoreApplication>

#include "ui/Messages.h"

TQtDispatcher::TQtDispatcher() {
    SetThreadDispatcher(this);
}

TQtDispatcher::~TQtDispatcher() {
    SetThreadDispatcher(nullptr);
}

void TQtDispatcher::Wake() {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { Guarded([] { CheckSynchronize(); }); }, Qt::QueuedConnection);
}
