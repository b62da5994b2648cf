#include "app/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>

namespace qv {

namespace {

constexpr char kAnswer = '\x06';
constexpr int kConnectTimeoutMs = 5000;
constexpr int kLockTimeoutMs = 10000;
// Room for a Unix socket path (sun_path holds 104 bytes on macOS).
constexpr int kMaxSocketPath = 100;

QString lockFilePath(const QString& serverName) {
    QString base = serverName;
    if (!QDir::isAbsolutePath(base)) base = QDir(QDir::tempPath()).filePath(base);
    return base + QStringLiteral(".lock");
}

}  // namespace

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

QString SingleInstance::defaultServerName() {
    const QString name = QString::fromLatin1(kMutexName);
#ifdef Q_OS_WIN
    // Pipe names are machine-wide: one per user, like the session's mutex.
    const QString user = qEnvironmentVariable("USERNAME");
    return user.isEmpty() ? name : name + QLatin1Char('-') + user;
#else
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) {
        const QString path = QDir(runtime).filePath(name);
        if (path.toLocal8Bit().size() < kMaxSocketPath) return path;
    }
    return name;
#endif
}

QString SingleInstance::argumentText(const QStringList& argumentsAfterProgram) {
    QStringList quoted;
    for (const QString& argument : argumentsAfterProgram) quoted << QLatin1Char('"') + argument + QLatin1Char('"');
    return quoted.join(QLatin1Char(' '));
}

QString SingleInstance::pathFromArgumentText(const QString& text) {
    return text.size() < 2 ? QString() : text.mid(1, text.size() - 2);
}

bool SingleInstance::isListening() const { return server_ && server_->isListening(); }

SingleInstance::Result SingleInstance::start(const QString& argumentText) {
    if (isListening()) return Result::Listening;
    // The lock keeps two copies started together from both taking the socket.
    QLockFile lock(lockFilePath(serverName_));
    lock.setStaleLockTime(0);
    const bool locked = lock.tryLock(kLockTimeoutMs);

    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        if (locked) lock.unlock();
        handOver(socket, argumentText);
        return Result::HandedOver;
    }

    // Nobody answers: whatever is left under the name belongs to a copy that
    // is gone.
    QLocalServer::removeServer(serverName_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(serverName_)) {
        delete server_;
        server_ = nullptr;
        return Result::Alone;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return Result::Listening;
}

bool SingleInstance::handOver(QLocalSocket& socket, const QString& argumentText) {
    QByteArray message = argumentText.toUtf8().left(kMaxMessageBytes - 1);
    message.append('\0');
    socket.write(message);
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(-1)) return false;
    // Wait, as long as it takes, for the running copy to finish with the text.
    while (socket.state() == QLocalSocket::ConnectedState) {
        if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(-1)) {
            if (socket.readAll().contains(kAnswer)) return true;
        } else {
            break;
        }
    }
    return false;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        if (socket->bytesAvailable() > 0) readMessage(socket);
    }
}

void SingleInstance::readMessage(QLocalSocket* socket) {
    QPointer<QLocalSocket> guard(socket);
    QByteArray buffer = socket->property("qv_message").toByteArray();
    if (socket->property("qv_done").toBool()) {
        socket->readAll();
        return;
    }
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf('\0');
    if (end < 0) {
        if (buffer.size() >= kMaxMessageBytes) {
            socket->abort();  // no terminator within the limit: not one of ours
            return;
        }
        socket->setProperty("qv_message", buffer);
        return;
    }
    socket->setProperty("qv_done", true);
    socket->setProperty("qv_message", QByteArray());
    const QString text = QString::fromUtf8(buffer.left(end));
    if (receiver_) receiver_(text);  // may run a modal question
    if (!guard) return;
    guard->write(&kAnswer, 1);
    guard->flush();
    guard->disconnectFromServer();
}

}  // namespace qv
