#include "app/single_instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <algorithm>

namespace qv {

namespace {

constexpr char kAnswer = '\x06';    // the text was handled
constexpr char kReceived = '\x05';  // the text arrived (sent before it is handled)
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

QString SingleInstance::handOverText(const QStringList& argumentsAfterProgram) {
    QStringList absolute;
    for (const QString& argument : argumentsAfterProgram)
        absolute << (argument.isEmpty() ? argument : QFileInfo(argument).absoluteFilePath());
    return argumentText(absolute);
}

QString SingleInstance::pathFromArgumentText(const QString& text) {
    return text.size() < 2 ? QString() : text.mid(1, text.size() - 2);
}

bool SingleInstance::isListening() const { return server_ && server_->isListening(); }

SingleInstance::Result SingleInstance::start(const QString& argumentText, int answerTimeoutMs) {
    if (isListening()) return Result::Listening;
    // The lock keeps two copies started together from both taking the socket.
    QLockFile lock(lockFilePath(serverName_));
    lock.setStaleLockTime(0);
    const bool locked = lock.tryLock(kLockTimeoutMs);

    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        if (locked) lock.unlock();
        return handOver(socket, argumentText, answerTimeoutMs);
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

SingleInstance::Result SingleInstance::handOver(QLocalSocket& socket, const QString& argumentText,
                                                int answerTimeoutMs) {
    QByteArray message = argumentText.toUtf8().left(kMaxMessageBytes - 1);
    message.append('\0');
    QElapsedTimer clock;
    clock.start();
    auto left = [&] { return std::max<qint64>(0, answerTimeoutMs - clock.elapsed()); };
    socket.write(message);
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(static_cast<int>(left()))) return Result::NoAnswer;
    // Until the running copy confirms, it may be frozen: wait no longer than
    // the limit. Once it has confirmed, wait as long as its question takes.
    bool received = false;
    while (socket.state() == QLocalSocket::ConnectedState) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(received ? -1 : static_cast<int>(left()))) {
            if (!received && socket.state() == QLocalSocket::ConnectedState) return Result::NoAnswer;
            break;
        }
        const QByteArray got = socket.readAll();
        if (got.contains(kAnswer)) return Result::HandedOver;
        if (got.contains(kReceived)) received = true;
    }
    // The running copy closed the connection: it took the text (an older
    // copy answers by closing), or it ended while handling it.
    return Result::HandedOver;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        // Deleted from the event loop only; a hand-over being handled holds a
        // guarded pointer and finds it gone if the other copy went away.
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        if (socket->bytesAvailable() > 0) readMessage(socket);
    }
}

void SingleInstance::readMessage(QLocalSocket* socket) {
    if (socket->property("qv_done").toBool()) {
        socket->readAll();
        return;
    }
    QByteArray buffer = socket->property("qv_message").toByteArray();
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
    socket->write(&kReceived, 1);
    socket->flush();
    // The receiver may ask a modal question, during which this socket can
    // disconnect and be deleted: it runs later, from the event loop, never
    // inside the socket's own signal.
    pending_.append({QPointer<QLocalSocket>(socket), QString::fromUtf8(buffer.left(end))});
    QMetaObject::invokeMethod(this, &SingleInstance::deliverPending, Qt::QueuedConnection);
}

void SingleInstance::deliverPending() {
    if (delivering_) return;  // the running hand-over picks the next one up
    delivering_ = true;
    while (!pending_.isEmpty()) {
        const Pending next = pending_.takeFirst();
        if (receiver_) receiver_(next.text);  // may run a modal question
        if (QLocalSocket* socket = next.socket.data();
            socket && socket->state() == QLocalSocket::ConnectedState) {
            socket->write(&kAnswer, 1);
            socket->flush();
            socket->disconnectFromServer();
        }
    }
    delivering_ = false;
}

}  // namespace qv
