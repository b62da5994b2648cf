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
// The receiver runs on the GUI thread, from the event loop, one hand-over at a
// time; the sending copy waits until it returns (including any question it
// asks). The running copy confirms at once that the text arrived; a copy that
// does not confirm within the wait limit is taken as frozen, and start()
// reports NoAnswer (the caller then runs on its own). The listening socket is
// closed when the object is destroyed. A socket left behind by a copy that
// crashed is removed and the new copy takes over.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QList>
#include <QPointer>
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
    // How long a later copy waits for the running copy to confirm the text.
    static constexpr int kDefaultAnswerTimeoutMs = 10000;

    using Receiver = std::function<void(const QString& argumentText)>;

    enum class Result {
        Listening,   // this is the first copy; hand-overs will reach the receiver
        HandedOver,  // another copy took the argument: exit now
        Alone,       // no copy runs, but the socket could not be created: run anyway
        NoAnswer,    // a copy runs but did not confirm in time (frozen): run anyway
    };

    explicit SingleInstance(QString serverName = defaultServerName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    Result start(const QString& argumentText, int answerTimeoutMs = kDefaultAnswerTimeoutMs);
    void setReceiver(Receiver receiver) { receiver_ = std::move(receiver); }
    bool isListening() const;
    const QString& serverName() const { return serverName_; }

    // The per-user socket name: the mutex name in the user's runtime folder on
    // Unix, the pipe of that name followed by "-" and the user name on Windows.
    static QString defaultServerName();
    // The argument text as the file association passes it: each argument in
    // double quotes, separated by spaces; empty without arguments.
    static QString argumentText(const QStringList& argumentsAfterProgram);
    // The text a later copy hands over: argumentText of the arguments made
    // absolute against the current folder, since the running copy works in a
    // folder of its own.
    static QString handOverText(const QStringList& argumentsAfterProgram);
    // The receiver's reading of the text: its first and last characters (the
    // quotes) removed; empty when it has fewer than two.
    static QString pathFromArgumentText(const QString& text);

private:
    struct Pending {
        QPointer<QLocalSocket> socket;
        QString text;
    };

    void acceptConnections();
    void readMessage(QLocalSocket* socket);
    void deliverPending();
    static Result handOver(QLocalSocket& socket, const QString& argumentText, int answerTimeoutMs);

    QString serverName_;
    QLocalServer* server_ = nullptr;
    Receiver receiver_;
    QList<Pending> pending_;
    bool delivering_ = false;
};

}  // namespace qv
