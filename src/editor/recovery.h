// Crash recovery: while a song has unsaved changes the file flow keeps a copy
// of it in the user's data folder, replaced atomically at most once per
// interval. Each copy is a module file named after the module it belongs to
// (a hash of its path, "untitled" for a new song) with a side file that holds
// that path. At start the newest copy that is newer than its module is
// offered; a save, a discard and a clean exit remove the copy.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <optional>

class QTimer;

namespace qv {

struct Song;

class Recovery : public QObject {
    Q_OBJECT
public:
    // One copy on disk.
    struct Record {
        QString modulePath;  // the module the copy belongs to ("untitled.qze" for a new song)
        QString songFile;    // the copy itself, a module file
        QDateTime written;   // when the copy was last written
    };

    static constexpr int kDefaultIntervalSeconds = 60;

    // folder: where copies live (created when needed); intervalMs: the least
    // time between two writes.
    Recovery(QString folder, int intervalMs, QObject* parent = nullptr);

    // The "recovery" folder in the user's data folder.
    static QString defaultFolder();
    // The interval in milliseconds: QORVETTE_RECOVERY_SECONDS when it holds a
    // positive number, else 60 seconds.
    static int intervalFromEnvironment();

    const QString& folder() const { return folder_; }
    int intervalMs() const;

    // Writes the copy of song for modulePath through the replacing file
    // writer; a copy kept for another module before is removed. False when
    // the copy could not be written.
    bool write(const Song& song, const QString& modulePath);
    // Removes the copy this session keeps, if any.
    void remove();
    // The copy this session keeps (a recovered one counts).
    const std::optional<Record>& current() const { return current_; }
    // Takes over a copy found at start as this session's own.
    void adopt(const Record& record) { current_ = record; }

    // The copy to offer at start: among the copies that are newer than their
    // module (or whose module is gone), the one of preferredModule, else the
    // newest.
    std::optional<Record> findOffer(const QString& preferredModule) const;
    static void removeRecord(const Record& record);

signals:
    // The interval has passed: time to write a copy when the song changed.
    void due();

private:
    QString baseFor(const QString& modulePath) const;

    QString folder_;
    QTimer* timer_ = nullptr;
    std::optional<Record> current_;
};

}  // namespace qv
