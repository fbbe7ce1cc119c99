#include "app/SingleInstance.h"

#include <iostream>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include "ui/QtText.h"

TSingleInstance::TSingleInstance(const std::string& dataFolder, QObject* parent)
    : QObject(parent), FDataFolder(dataFolder) {}

TSingleInstance::~TSingleInstance() {
    if (FServer)
        FServer->close();
    if (FLock)
        FLock->unlock();
}

std::string TSingleInstance::LockFileName(const std::string& dataFolder) {
    return dataFolder + "tovelrss.lock";
}

std::string TSingleInstance::ServerName(const std::string& dataFolder) {
    // Socket paths are short, so the folder goes in as a digest; the user id keeps two users'
    // readers of one shared folder apart on the socket (the lock still keeps them apart on the file).
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(dataFolder), QCryptographicHash::Sha1).toHex();
    return "tovelrss-" + std::to_string(::getuid()) + "-" + digest.left(24).toStdString();
}

bool TSingleInstance::Acquire(int waitMs) {
    FOtherAnswered = false;
    FLock = std::make_unique<QLockFile>(ToQt(LockFileName(FDataFolder)));
    // A live reader keeps its lock however long it runs; a dead one's lock is recognised by its
    // process id and taken over.
    FLock->setStaleLockTime(0);
    if (FLock->tryLock(0)) {
        Listen();
        return true;
    }
    if (FLock->error() != QLockFile::LockFailedError) {
        std::cerr << "tovelrss: cannot make the lock file " << LockFileName(FDataFolder)
                  << "; not guarding the data folder against a second reader" << std::endl;
        FLock.reset();
        return true;
    }
    FLock.reset();
    FOtherAnswered = AskOtherToRaise(waitMs);
    return false;
}

void TSingleInstance::Listen() {
    const QString name = ToQt(ServerName(FDataFolder));
    // We hold the lock, so a socket of that name is left over from a reader that died.
    QLocalServer::removeServer(name);
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = FServer->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            emit RaiseRequested();
        }
    });
    if (!FServer->listen(name))
        std::cerr << "tovelrss: cannot listen on " << FromQt(FServer->fullServerName()) << ": "
                  << FromQt(FServer->errorString()) << std::endl;
}

bool TSingleInstance::AskOtherToRaise(int waitMs) {
    // The other reader may have taken the lock a moment ago and not listen yet.
    const QDeadlineTimer deadline(waitMs);
    const QString name = ToQt(ServerName(FDataFolder));
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(name);
        const int remaining = static_cast<int>(deadline.remainingTime());
        if (socket.waitForConnected(remaining > 0 ? std::min(remaining, 1000) : 0)) {
            socket.disconnectFromServer();
            return true;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
}
