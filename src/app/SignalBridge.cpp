#include "app/SignalBridge.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "platform/SysUtils.h"

namespace {

const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t gWriteEnd = -1;

void OnSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (gWriteEnd >= 0) {
        // A full pipe already holds a wake-up; losing this byte changes nothing.
        [[maybe_unused]] const ssize_t written = ::write(gWriteEnd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TSignalBridge::TSignalBridge(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), FOnSignal(std::move(onSignal)) {
    if (::pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw Exception("Cannot create the signal pipe");
    gWriteEnd = FPipe[1];
    FNotifier = new QSocketNotifier(FPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TSignalBridge::PipeReadable);

    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

TSignalBridge::~TSignalBridge() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
    gWriteEnd = -1;
    delete FNotifier;
    ::close(FPipe[0]);
    ::close(FPipe[1]);
}

void TSignalBridge::PipeReadable() {
    unsigned char buffer[64];
    for (;;) {
        const ssize_t count = ::read(FPipe[0], buffer, sizeof buffer);
        if (count <= 0)
            break;
        for (ssize_t i = 0; i < count; ++i)
            if (FOnSignal)
                FOnSignal(buffer[i]);
    }
}
