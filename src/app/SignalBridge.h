#pragma once

#include <functional>

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into calls on the event loop of the thread that created the
// bridge, so that a stop from outside ends the program the same orderly way as closing the window.
// The handler itself only writes the signal's number into a pipe. One bridge at a time.
class TSignalBridge : public QObject {
    Q_OBJECT
public:
    // Catches the three signals from now on; onSignal receives each signal's number once the event
    // loop runs. Raises Exception when the pipe cannot be made.
    explicit TSignalBridge(std::function<void(int)> onSignal, QObject* parent = nullptr);
    // Gives the three signals their default action back.
    ~TSignalBridge() override;

    TSignalBridge(const TSignalBridge&) = delete;
    TSignalBridge& operator=(const TSignalBridge&) = delete;

private:
    void PipeReadable();

    std::function<void(int)> FOnSignal;
    int FPipe[2] = {-1, -1};
    QSocketNotifier* FNotifier = nullptr;
};
