#include "editor/recovery.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include "song/file_write.h"
#include "song/module_file.h"

namespace qv {

namespace {

constexpr const char* kUntitledBase = "untitled";

bool newerThanModule(const QFileInfo& copy, const QString& modulePath) {
    const QFileInfo module(modulePath);
    return !module.isFile() || copy.lastModified() > module.lastModified();
}

}  // namespace

Recovery::Recovery(QString folder, int intervalMs, QObject* parent)
    : QObject(parent), folder_(std::move(folder)) {
    setObjectName("Recovery");
    timer_ = new QTimer(this);
    timer_->setInterval(std::max(intervalMs, 1));
    connect(timer_, &QTimer::timeout, this, &Recovery::due);
    timer_->start();
}

QString Recovery::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/recovery";
}

int Recovery::intervalFromEnvironment() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("QORVETTE_RECOVERY_SECONDS", &ok);
    return (ok && seconds > 0 ? seconds : kDefaultIntervalSeconds) * 1000;
}

int Recovery::intervalMs() const { return timer_->interval(); }

QString Recovery::baseFor(const QString& modulePath) const {
    const QFileInfo info(modulePath);
    // A new song has no file: its name is the same in every session.
    const QString key = info.isAbsolute() || info.exists()
                            ? QString::fromLatin1(
                                  QCryptographicHash::hash(info.absoluteFilePath().toUtf8(),
                                                           QCryptographicHash::Sha1)
                                      .toHex()
                                      .left(16))
                            : QString(kUntitledBase);
    return folder_ + "/" + key;
}

bool Recovery::write(const Song& song, const QString& modulePath) {
    if (!QDir().mkpath(folder_)) return false;
    const QString base = baseFor(modulePath);
    if (current_ && current_->songFile != base + ".qze") remove();
    // The copy first, then the record of its module: a copy without its
    // record is never offered.
    std::vector<uint8_t> bytes;
    try {
        bytes = packModule(song);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!writeFileReplacing((base + ".qze").toStdString(), bytes)) return false;
    const QByteArray path = modulePath.toUtf8();
    if (!writeFileReplacing((base + ".txt").toStdString(),
                            reinterpret_cast<const uint8_t*>(path.constData()),
                            size_t(path.size())))
        return false;
    current_ = Record{modulePath, base + ".qze", QFileInfo(base + ".qze").lastModified()};
    return true;
}

void Recovery::removeRecord(const Record& record) {
    QFile::remove(record.songFile);
    QString side = record.songFile;
    side.replace(side.size() - 4, 4, ".txt");
    QFile::remove(side);
}

void Recovery::remove() {
    if (!current_) return;
    removeRecord(*current_);
    current_.reset();
}

std::optional<Recovery::Record> Recovery::findOffer(const QString& preferredModule) const {
    std::optional<Record> best;
    const QDir dir(folder_);
    for (const QFileInfo& side : dir.entryInfoList({"*.txt"}, QDir::Files)) {
        const QFileInfo copy(dir.filePath(side.completeBaseName() + ".qze"));
        if (!copy.isFile()) continue;
        QFile file(side.filePath());
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QString modulePath = QString::fromUtf8(file.read(4096));
        if (modulePath.isEmpty() || !newerThanModule(copy, modulePath)) continue;
        const Record record{modulePath, copy.filePath(), copy.lastModified()};
        if (modulePath == preferredModule) return record;
        if (!best || record.written > best->written) best = record;
    }
    return best;
}

}  // namespace qv
