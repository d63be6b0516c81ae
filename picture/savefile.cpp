#include "picture/savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(Q_OS_UNIX)
#include <climits>
#include <sys/uio.h>
#include <unistd.h>
#endif
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

    bool write(std::span<const Part> parts) override
    {
#if defined(Q_OS_UNIX)
        const int fd = m_file.handle();
        if (failed() || fd < 0)
            return !failed() && SaveSink::write(parts);
        std::vector<iovec> vectors;
        vectors.reserve(std::min<size_t>(parts.size(), IOV_MAX));
        size_t next = 0;
        while (next < parts.size()) {
            vectors.clear();
            for (size_t i = next; i < parts.size() && vectors.size() < IOV_MAX; ++i)
                vectors.push_back({const_cast<char *>(parts[i].data), size_t(parts[i].size)});
            next += vectors.size();
            // A short write leaves the rest of the batch for the next call, from where it stopped.
            iovec *at = vectors.data();
            int left = int(vectors.size());
            qint64 written = 0;
            while (left > 0) {
                const ssize_t n = ::writev(fd, at, left);
                if (n <= 0) {
                    if (n < 0 && errno == EINTR)
                        continue;
                    m_cause = n < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                    : QCoreApplication::translate("picture", "the file system accepted no more data");
                    return false;
                }
                written += n;
                size_t done = size_t(n);
                while (left > 0 && done >= at->iov_len) {
                    done -= at->iov_len;
                    ++at;
                    --left;
                }
                if (left > 0) {
                    at->iov_base = static_cast<char *>(at->iov_base) + done;
                    at->iov_len -= done;
                }
            }
            startWriteBack(written);
        }
        return true;
#else
        return SaveSink::write(parts);
#endif
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

QString folderInTheWay()
{
    return QCoreApplication::translate("picture", "a folder of that name is in the way");
}

// The file that replacing path replaces: a symbolic link's target, as QSaveFile follows it.
QString replacedFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : path;
}

// A second name for the file at path, beside it, so that it can be put back after another file
// of the same save failed; a hard link costs nothing, a copy is the fallback.
QString keepOldFile(const QString &path)
{
    const QFileInfo info(path);
    QTemporaryFile name(info.dir().filePath(QStringLiteral(".") + info.fileName() + QStringLiteral(".old-XXXXXX")));
    if (!name.open())
        return {};
    const QString kept = name.fileName();
    name.close();
    name.remove();
#if defined(Q_OS_UNIX)
    if (::link(QFile::encodeName(path).constData(), QFile::encodeName(kept).constData()) == 0)
        return kept;
#endif
    return QFile::copy(path, kept) ? kept : QString();
}

// QSaveFile refuses an existing file that may not be written with a sentence of its own that
// repeats the path and hides the reason ("Read-only file system", "Permission denied"). Opening
// the file for appending, without creating or changing it, gets the system's own answer.
QString openFailureCause(const QString &path, const QString &saveFileCause)
{
    const QFileInfo info(path);
    if (info.isDir())
        return folderInTheWay();
    if (!info.exists())
        return saveFileCause;
    QFile probe(path);
    if (probe.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return saveFileCause;
    return probe.errorString();
}

} // namespace

bool SaveSink::write(std::span<const Part> parts)
{
    for (const Part &part : parts)
        if (!write(part.data, part.size))
            return false;
    return true;
}

SaveResult saveAtomically(const QString &path, const std::function<bool(SaveSink &)> &produce)
{
    StagedSave save;
    const SaveResult staged = save.stage(path, produce);
    return staged.ok ? save.commit() : staged;
}

struct StagedSave::Staged {
    QString path;
    QSaveFile file;
    explicit Staged(const QString &p) : path(p), file(p) {}
};

StagedSave::StagedSave() = default;
StagedSave::~StagedSave() = default; // QSaveFile discards an uncommitted temporary file

SaveResult StagedSave::stage(const QString &path, const std::function<bool(SaveSink &)> &produce)
{
    // QSaveFile replaces the file a symbolic link points to and keeps the link, keeps the old
    // file's permissions, and syncs the temporary file before renaming it over the target.
    auto staged = std::make_unique<Staged>(path);
    QSaveFile &file = staged->file;
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
    m_files.push_back(std::move(staged));
    return {};
}

SaveResult StagedSave::commit()
{
    // Put in place from the last staged to the first, so that the first (a sheet, usually far
    // larger than the files described after it) is never the one kept aside: every file but
    // the one put in place last may have to be put back, and the old ones get a second name.
    struct Undo {
        QString target;
        QString kept; // empty: there was no file
    };
    std::vector<Undo> undo;
    auto forget = [&] {
        for (const Undo &u : undo)
            if (!u.kept.isEmpty())
                QFile::remove(u.kept);
    };
    auto fail = [&](const QString &path, const QString &cause) {
        SaveResult result{false, failure(path, cause)}; // before path's file is let go
        forget();
        m_files.clear();
        return result;
    };
    for (size_t i = m_files.size(); i-- > 1;) {
        Undo u{replacedFile(m_files[i]->path), {}};
        if (QFileInfo::exists(u.target) && (u.kept = keepOldFile(u.target)).isEmpty())
            return fail(m_files[i]->path, QCoreApplication::translate("picture", "the old file could not be kept aside "
                                                                                "while the new one is put in place"));
        undo.push_back(u);
    }
    for (size_t done = 0; done < m_files.size(); ++done) {
        Staged &staged = *m_files[m_files.size() - 1 - done];
        if (staged.file.commit())
            continue;
        QString cause = staged.file.errorString();
        if (cause.isEmpty() || cause == QLatin1String("Unknown error"))
            cause = QCoreApplication::translate("picture", "the finished file could not be put in its place");
        for (size_t j = 0; j < done; ++j) {
            if (undo[j].kept.isEmpty()) {
                QFile::remove(undo[j].target);
            } else if (::rename(QFile::encodeName(undo[j].kept).constData(), QFile::encodeName(undo[j].target).constData()) == 0) {
                undo[j].kept.clear();
            } else {
                // Never lost: the old file stays under its second name, and the message says where.
                cause += QCoreApplication::translate("picture", "; the old %1 could not be put back and is kept as %2")
                             .arg(undo[j].target, undo[j].kept);
                undo[j].kept.clear();
            }
        }
        return fail(staged.path, cause);
    }
    forget();
    m_files.clear();
    return {};
}

QString cannotSave(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return failure(path, folderInTheWay());
#if defined(Q_OS_UNIX)
    // The system's own answers, as opening the temporary file would give them.
    const QString folder = info.absolutePath();
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        return failure(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (info.exists() && ::access(QFile::encodeName(replacedFile(path)).constData(), W_OK) != 0)
        return failure(path, QString::fromLocal8Bit(std::strerror(errno)));
#endif
    return {};
}

} // namespace picture
