#pragma once

#include <memory>
#include <string>

#include <QObject>

class QLocalServer;
class QLockFile;

// Lets only one reader work on a data folder, so that two copies never overwrite each other's
// catalogue. The first one holds a lock file in the folder and listens on a local socket; a later
// start finds the lock, asks the first one through the socket to come to the front, and gives up.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    // dataFolder ends with "/".
    explicit TSingleInstance(const std::string& dataFolder, QObject* parent = nullptr);
    ~TSingleInstance() override;

    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // True when this process now holds the folder, and also when no lock file can be made there
    // (a read-only folder: nothing can be overwritten then). False when another reader holds it;
    // that one has then been asked to come to the front, waiting up to waitMs for it to answer.
    bool Acquire(int waitMs = 5000);
    // Whether the other reader answered the last failed Acquire.
    bool OtherAnswered() const { return FOtherAnswered; }

    // The lock file and the socket name for a data folder.
    static std::string LockFileName(const std::string& dataFolder);
    static std::string ServerName(const std::string& dataFolder);

signals:
    // A later start asked this reader to bring its window to the front.
    void RaiseRequested();

private:
    void Listen();
    bool AskOtherToRaise(int waitMs);

    std::string FDataFolder;
    std::unique_ptr<QLockFile> FLock;
    QLocalServer* FServer = nullptr;
    bool FOtherAnswered = false;
};
