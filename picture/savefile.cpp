#include "picture/savefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#endif

namespace picture {

namespace {

QString failure(const QString &path, const QString &cause)
{
    return QCoreApplication::translate("picture", "Cannot write %1: %2").arg(path, cause);
}

// Writes through to the temporary file. QSaveFile reports a write that the disk cut short
// as a short count with no error, so each write goes on until every byte is in or the file
// system names its refusal; the first cause is kept because commit() would lose it.
class SaveFileSink : public SaveSink
{
public:
    explicit SaveFileSink(QSaveFile &file) : m_file(file) {}

    bool write(const char *data, qint64 size) override
    {
        if (failed())
            return false;
        while (size > 0) {
            const qint64 written = m_file.write(data, size);
            if (written <= 0) {
                m_cause = m_file.errorString();
                if (m_cause.isEmpty())
                    m_cause = QCoreApplication::translate("picture", "the file system accepted no more data");
                return false;
            }
            data += written;
            size -= written;
            startWriteBack(written);
        }
        return true;
    }

    bool failed() const { return !m_cause.isNull(); }
    QString cause() const { return m_cause; }

private:
    // Asks the system to start putting what has been written on the disk while the rest is
    // still being produced, so that the sync before the rename has less left to wait for.
    // Only a hint: whatever it says, the sync and its checks follow as before.
    void startWriteBack(qint64 written)
    {
#if defined(Q_OS_LINUX)
        constexpr qint64 batch = qint64(8) << 20;
        m_pending += written;
        if (m_pending < batch)
            return;
        if (const int fd = m_file.handle(); fd >= 0)
            ::sync_file_range(fd, m_started, m_pending, SYNC_FILE_RANGE_WRITE);
        m_started += m_pending;
        m_pending = 0;
#else
        Q_UNUSED(written)
#endif
    }

    QSaveFile &m_file;
    QString m_cause;
    qint64 m_started = 0; // bytes handed to write-back
    qint64 m_pending = 0; // bytes written since
};

// QSaveFile refuses an existing file that may not be written with a sentence of its own that
// repeats the path and hides the reason ("Read-only file system", "Permission denied"). Opening
// the file for appending, without creating or changing it, gets the system's own answer.
QString openFailureCause(const QString &path, const QString &saveFileCause)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return saveFileCause;
    QFile probe(path);
    if (probe.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return saveFileCause;
    return probe.errorString();
}

} // namespace

SaveResult saveAtomically(const QString &path, const std::function<bool(SaveSink &)> &produce)
{
    // QSaveFile replaces the file a symbolic link points to and keeps the link, keeps the old
    // file's permissions, and syncs the temporary file before renaming it over the target.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return {false, failure(path, openFailureCause(path, file.errorString()))};

    SaveFileSink sink(file);
    const bool produced = produce(sink);
    if (sink.failed() || !produced) {
        file.cancelWriting();
        const QString cause = sink.failed()
            ? sink.cause()
            : QCoreApplication::translate("picture", "its content could not be made");
        return {false, failure(path, cause)};
    }
    if (!file.commit()) {
        QString cause = file.errorString();
        if (cause.isEmpty() || cause == QLatin1String("Unknown error"))
            cause = QCoreApplication::translate("picture", "the finished file could not be put in its place");
        return {false, failure(path, cause)};
    }
    return {};
}

} // namespace picture
