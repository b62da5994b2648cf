// Runs copies of itself as the editor's first and later instances: with
// QV_SI_ROLE set in the environment the program plays that role and exits
// instead of running the tests.
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QLocalServer>
#include <QMessageBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <cstdlib>

#include "app/single_instance.h"

using qv::SingleInstance;

namespace {

constexpr int kExitHandedOver = 10;
constexpr int kExitListening = 20;
constexpr int kExitAlone = 30;
constexpr int kExitAnswerTooEarly = 40;
constexpr int kExitNoAnswer = 50;

void appendLine(const QString& path, const QByteArray& line) {
    QFile file(path);
    if (file.open(QIODevice::Append)) file.write(line + '\n');
}

// first: listen and record every hand-over (slowly, like a user answering a
// question) in the log until killed or told to quit with the text "quit".
int runFirst(const QString& server, const QString& log) {
    SingleInstance instance(server);
    const auto result = instance.start(QString());
    if (result != SingleInstance::Result::Listening) return kExitAlone;
    instance.setReceiver([&](const QString& text) {
        appendLine(log, "begin " + text.toUtf8());
        QThread::msleep(text.contains(QLatin1String("slow")) ? 2000 : 300);
        appendLine(log, "end " + text.toUtf8());
        if (text == QLatin1String("quit")) QTimer::singleShot(0, qApp, [] { qApp->quit(); });
    });
    std::printf("listening\n");
    std::fflush(stdout);
    QCoreApplication::exec();
    return kExitListening;
}

// asker: listen; each hand-over opens the question box for a while (as the
// editor asks before it opens a handed-over module), then the copy logs the
// answer and quits.
int runAsker(const QString& server, const QString& log) {
    SingleInstance instance(server);
    if (instance.start(QString()) != SingleInstance::Result::Listening) return kExitAlone;
    instance.setReceiver([&](const QString& text) {
        QMessageBox question(QMessageBox::Warning, "Warning", "Open new module? Current module will be lost.\n",
                             QMessageBox::Yes | QMessageBox::No);
        QTimer::singleShot(600, &question, [&question] { question.done(QMessageBox::Yes); });
        question.exec();
        appendLine(log, "answered " + text.toUtf8());
        QTimer::singleShot(100, qApp, [] { qApp->quit(); });
    });
    std::printf("listening\n");
    std::fflush(stdout);
    QCoreApplication::exec();
    return kExitListening;
}

// later: start with the given argument text and report the outcome; after a
// hand-over the first copy must already have finished with the text.
int runLater(const QString& server, const QString& log, const QString& text, int waitMs) {
    SingleInstance instance(server);
    switch (instance.start(text, waitMs)) {
    case SingleInstance::Result::HandedOver: {
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly) || !file.readAll().contains("end " + text.toUtf8()))
            return kExitAnswerTooEarly;
        return kExitHandedOver;
    }
    case SingleInstance::Result::Listening: return kExitListening;
    case SingleInstance::Result::Alone: return kExitAlone;
    case SingleInstance::Result::NoAnswer: return kExitNoAnswer;
    }
    return 1;
}

int runRole() {
    const QByteArray role = qgetenv("QV_SI_ROLE");
    const QString server = qEnvironmentVariable("QV_SI_SERVER");
    const QString log = qEnvironmentVariable("QV_SI_LOG");
    if (role == "first") return runFirst(server, log);
    if (role == "asker") return runAsker(server, log);
    return runLater(server, log, qEnvironmentVariable("QV_SI_TEXT"), qEnvironmentVariableIntValue("QV_SI_WAIT"));
}

}  // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString server_;
    QString log_;

    QProcess* spawn(const QByteArray& role, const QString& text = QString(),
                    int waitMs = SingleInstance::kDefaultAnswerTimeoutMs) {
        auto* process = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QV_SI_ROLE", QString::fromLatin1(role));
        env.insert("QV_SI_SERVER", server_);
        env.insert("QV_SI_LOG", log_);
        env.insert("QV_SI_TEXT", text);
        env.insert("QV_SI_WAIT", QString::number(waitMs));
        process->setProcessEnvironment(env);
        process->setProgram(QCoreApplication::applicationFilePath());
        process->start();
        return process;
    }

    QProcess* spawnFirst(const QByteArray& role = "first") {
        QProcess* first = spawn(role);
        if (!first->waitForStarted(10000)) return nullptr;
        QElapsedTimer timer;
        timer.start();
        while (!first->readAllStandardOutput().contains("listening") && timer.elapsed() < 10000)
            first->waitForReadyRead(200);
        return first;
    }

    int runLater(const QString& text, int waitMs = SingleInstance::kDefaultAnswerTimeoutMs) {
        QProcess* later = spawn("later", text, waitMs);
        if (!later->waitForFinished(30000)) return -1;
        return later->exitCode();
    }

    QByteArray logText() {
        QFile file(log_);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

public:
    TestSingleInstance() {
        if (qEnvironmentVariableIsSet("QV_SI_ROLE")) std::exit(runRole());
    }

private slots:
    void init() {
        static int run = 0;
        server_ = dir_.filePath(QStringLiteral("si%1").arg(run++));
        log_ = server_ + ".log";
    }

    void argumentTextAndPath() {
        QCOMPARE(SingleInstance::argumentText({}), QString());
        QCOMPARE(SingleInstance::argumentText({"/m/a b.qze"}), QStringLiteral("\"/m/a b.qze\""));
        QCOMPARE(SingleInstance::argumentText({"a", "b"}), QStringLiteral("\"a\" \"b\""));
        QCOMPARE(SingleInstance::pathFromArgumentText("\"/m/a b.qze\""), QStringLiteral("/m/a b.qze"));
        // An unquoted path loses its first and last character.
        QCOMPARE(SingleInstance::pathFromArgumentText("/m/a.qze"), QStringLiteral("m/a.qz"));
        QCOMPARE(SingleInstance::pathFromArgumentText(""), QString());
        QCOMPARE(SingleInstance::pathFromArgumentText("x"), QString());
        QCOMPARE(SingleInstance::pathFromArgumentText("\"\""), QString());
    }

    void defaultNameIsTheMutexName() {
        const QString name = SingleInstance::defaultServerName();
        QVERIFY(name.contains(QLatin1String(SingleInstance::kMutexName)));
    }

    void firstCopyListens() {
        SingleInstance instance(server_);
        QCOMPARE(instance.start(QStringLiteral("\"x\"")), SingleInstance::Result::Listening);
        QVERIFY(instance.isListening());
        QCOMPARE(instance.start(QString()), SingleInstance::Result::Listening);  // a second call changes nothing
    }

    void secondCopyHandsOverAndWaits() {
        QProcess* first = spawnFirst();
        QVERIFY(first);
        const QString text = QStringLiteral("\"/home/u/M\u00fcsik/song one.qze\"");
        QCOMPARE(runLater(text), kExitHandedOver);
        QCOMPARE(runLater(QString()), kExitHandedOver);  // no argument: an empty text
        const QByteArray log = logText();
        QVERIFY(log.contains("begin " + text.toUtf8() + "\nend " + text.toUtf8() + "\n"));
        QVERIFY(log.contains("begin \nend \n"));
        QCOMPARE(first->state(), QProcess::Running);

        QCOMPARE(runLater(QStringLiteral("quit")), kExitHandedOver);
        QVERIFY(first->waitForFinished(10000));
        QCOMPARE(first->exitCode(), kExitListening);
        // A clean exit leaves nothing behind: the next copy is the first again.
        QCOMPARE(runLater(QStringLiteral("\"a\"")), kExitListening);
    }

    void laterCopyTakesOverFromACrashedOne() {
        QProcess* first = spawnFirst();
        QVERIFY(first);
        QCOMPARE(runLater(QStringLiteral("\"one\"")), kExitHandedOver);
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        QCOMPARE(runLater(QStringLiteral("\"two\"")), kExitListening);
        QVERIFY(!logText().contains("two"));

        // And a copy started after that serves again.
        QProcess* again = spawnFirst();
        QVERIFY(again);
        QCOMPARE(runLater(QStringLiteral("\"three\"")), kExitHandedOver);
        QVERIFY(logText().contains("end \"three\""));
        again->kill();
        again->waitForFinished(10000);
    }

    void inProcessReceiverAndGarbage() {
        SingleInstance instance(server_);
        QCOMPARE(instance.start(QString()), SingleInstance::Result::Listening);
        QStringList received;
        instance.setReceiver([&](const QString& text) { received << text; });

        // A client that sends no terminator and gives up is dropped quietly.
        {
            QLocalSocket junk;
            junk.connectToServer(server_);
            QVERIFY(junk.waitForConnected(5000));
            junk.write("no terminator");
            junk.flush();
            QTest::qWait(50);
        }
        // Oversized junk without a terminator is cut off.
        QLocalSocket big;
        big.connectToServer(server_);
        QVERIFY(big.waitForConnected(5000));
        big.write(QByteArray(SingleInstance::kMaxMessageBytes + 10, 'a'));
        big.flush();
        QTRY_COMPARE_WITH_TIMEOUT(big.state(), QLocalSocket::UnconnectedState, 5000);

        // A proper message sent in pieces arrives whole and is answered.
        QLocalSocket client;
        client.connectToServer(server_);
        QVERIFY(client.waitForConnected(5000));
        client.write("\"pie");
        client.flush();
        QTest::qWait(20);
        client.write("ces\"");
        client.write(QByteArray(1, '\0'));
        client.flush();
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer += client.readAll()).contains('\x06') ||
                                     client.state() != QLocalSocket::ConnectedState,
                                 5000);
        answer += client.readAll();
        QCOMPARE(received, QStringList{QStringLiteral("\"pieces\"")});
        QVERIFY(answer.contains('\x06'));
        QVERIFY(received.size() == 1);
    }

    // The later copy ends while the running copy's question is open: the
    // running copy answers its question and goes on.
    void laterCopyEndsDuringTheQuestion() {
        QProcess* asker = spawnFirst("asker");
        QVERIFY(asker);
        {
            QLocalSocket client;
            client.connectToServer(server_);
            QVERIFY(client.waitForConnected(5000));
            client.write(QByteArray("\"/m/x.qze\"") + '\0');
            QVERIFY(client.waitForBytesWritten(5000));
            QTest::qWait(200);  // the question is open now
            client.abort();     // kill -TERM of the later copy
        }
        QVERIFY(asker->waitForFinished(10000));
        QCOMPARE(asker->exitStatus(), QProcess::NormalExit);
        QCOMPARE(asker->exitCode(), kExitListening);
        QVERIFY(logText().contains("answered \"/m/x.qze\""));
    }

    // A running copy that never answers (frozen) is given up after the wait
    // limit; one that confirms is waited for however long its question takes.
    void frozenCopyIsGivenUp() {
        QLocalServer frozen;  // listens, but this process never reads
        QVERIFY(frozen.listen(server_));
        SingleInstance later(server_);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(later.start(QStringLiteral("\"x\""), 300), SingleInstance::Result::NoAnswer);
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(!later.isListening());

        // The first copy confirms at once, then takes 2 s over this text:
        // more than the limit, and still waited for.
        frozen.close();
        QProcess* first = spawnFirst();
        QVERIFY(first);
        QCOMPARE(runLater(QStringLiteral("\"slow\""), 1500), kExitHandedOver);
        QCOMPARE(runLater(QStringLiteral("quit")), kExitHandedOver);
        QVERIFY(first->waitForFinished(10000));
    }

    // The later copy hands over absolute paths: the running copy has a
    // folder of its own.
    void handOverTextIsAbsolute() {
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir_.path()));
        const QString text = SingleInstance::handOverText({QStringLiteral("demo.qze"), QString()});
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(text, "\"" + QDir(dir_.path()).filePath("demo.qze") + "\" \"\"");
        QCOMPARE(SingleInstance::handOverText({QStringLiteral("/abs/x.qze")}), QStringLiteral("\"/abs/x.qze\""));
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
