// Single-instance mode: the first copy of the editor listens on a local
// socket named after its instance mutex; a later copy hands its argument text
// (the module path in double quotes) to it, waits for the answer and exits.
//
// Use, at start-up, after the QApplication exists and only when the
// `OneInstance` setting is on:
//
//     qv::SingleInstance instance;
//     if (instance.start(qv::SingleInstance::argumentText(args)) == qv::SingleInstance::Result::HandedOver)
//         return 0;
//     ... create the main window ...
//     instance.setReceiver([&](const QString& text) { window.handOver(text); });
//
// The receiver runs on the GUI thread; the sending copy waits until it returns
// (including any question it asks). The listening socket is closed when the
// object is destroyed. A socket left behind by a copy that crashed is removed
// and the new copy takes over.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QLocalServer;
class QLocalSocket;

namespace qv {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kMutexName = "B9A72556-E7D4-4AE9-BE2D-217C66DD39C7";
    // Longest argument text accepted from another copy, in bytes.
    static constexpr int kMaxMessageBytes = 64 * 1024;

    using Receiver = std::function<void(const QString& argumentText)>;

    enum class Result {
        Listening,   // this is the first copy; hand-overs will reach the receiver
        HandedOver,  // another copy took the argument: exit now
        Alone,       // no copy runs, but the socket could not be created: run anyway
    };

    explicit SingleInstance(QString serverName = defaultServerName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    Result start(const QString& argumentText);
    void setReceiver(Receiver receiver) { receiver_ = std::move(receiver); }
    bool isListening() const;
    const QString& serverName() const { return serverName_; }

    // The per-user socket name: the mutex name in the user's runtime folder on
    // Unix, the pipe of that name followed by "-" and the user name on Windows.
    static QString defaultServerName();
    // The argument text as the file association passes it: each argument in
    // double quotes, separated by spaces; empty without arguments.
    static QString argumentText(const QStringList& argumentsAfterProgram);
    // The receiver's reading of the text: its first and last characters (the
    // quotes) removed; empty when it has fewer than two.
    static QString pathFromArgumentText(const QString& text);

private:
    void acceptConnections();
    void readMessage(QLocalSocket* socket);
    static bool handOver(QLocalSocket& socket, const QString& argumentText);

    QString serverName_;
    QLocalServer* server_ = nullptr;
    Receiver receiver_;
};

}  // namespace qv
