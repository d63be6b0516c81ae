#include "picture/savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <set>
#include <cstdio>
#include <cstring>
#include <vector>

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace picture {

namespace {

QString failure(const QString &path, const QString &cause)
{
    return QCoreApplication::translate("picture", "Cannot write %1: %2").arg(path, cause);
}

// Writes through to the temporary file. A write that the disk cuts short comes back as a
// short count with no error, so each write goes on until every byte is in or the file system
// names its refusal; the first cause is kept.
class SaveFileSink : public SaveSink
{
public:
    explicit SaveFileSink(QFileDevice &file) : m_file(file) {}

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

    QFileDevice &m_file;
    QString m_cause;
    qint64 m_started = 0; // bytes handed to write-back
    qint64 m_pending = 0; // bytes written since
};

QString folderInTheWay()
{
    return QCoreApplication::translate("picture", "a folder of that name is in the way");
}

// The file that replacing path replaces: a symbolic link's target, so that the link is kept.
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

// An existing file that may not be written is not replaced either, though its folder would
// let a rename do it: opening it for appending, without creating or changing it, asks the
// system ("Read-only file system", "Permission denied", "Operation not permitted").
QString cannotReplace(const QString &file)
{
    QFile probe(file);
    if (probe.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return {};
    return probe.errorString();
}

QString systemCause(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Every StagedSave of the process, so that a run ended by a signal can take away what they
// staged. Whatever a save puts on disk before it is published (a temporary file, a kept-aside
// old file, a folder made) is made and recorded under this lock.
std::mutex &registryLock()
{
    static std::mutex lock;
    return lock;
}

std::set<StagedSave *> &registry()
{
    static std::set<StagedSave *> saves;
    return saves;
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
    QString path;      // as given, for messages
    QByteArray target; // the file replaced: a symbolic link's target, as the link is kept
    QByteArray temp;   // the finished content, beside the target
};

StagedSave::StagedSave()
{
    const std::lock_guard lock(registryLock());
    registry().insert(this);
}

StagedSave::~StagedSave()
{
    const std::lock_guard lock(registryLock());
    discard();
    registry().erase(this);
}

void StagedSave::discard()
{
    for (const std::unique_ptr<Staged> &staged : m_files)
        ::unlink(staged->temp.constData());
    m_files.clear();
    // Deepest first; a folder that something else has been put in since stays.
    for (auto it = m_madeFolders.rbegin(); it != m_madeFolders.rend(); ++it)
        ::rmdir(it->constData());
    m_madeFolders.clear();
}

SaveResult StagedSave::stage(const QString &path, const std::function<bool(SaveSink &)> &produce, Folders folders)
{
    auto staged = std::make_unique<Staged>();
    staged->path = path;
    int fd = -1;
    {
        const std::lock_guard lock(registryLock());
        if (folders == Folders::Make) {
            // The missing folders above path, from the outermost in.
            QList<QByteArray> missing;
            for (QFileInfo up(QFileInfo(path).absolutePath()); !up.exists(); up.setFile(up.absolutePath())) {
                missing.prepend(QFile::encodeName(up.absoluteFilePath()));
                if (up.isRoot())
                    break;
            }
            for (const QByteArray &folder : std::as_const(missing)) {
                if (::mkdir(folder.constData(), 0777) != 0 && errno != EEXIST) {
                    const int error = errno;
                    return {false, failure(path, QCoreApplication::translate("picture", "the folder %1 cannot be made (%2)")
                                                     .arg(QFile::decodeName(folder), systemCause(error)))};
                }
                m_madeFolders.push_back(folder);
            }
        }
        const QFileInfo info(path);
        if (info.isDir())
            return {false, failure(path, folderInTheWay())};
        const QString target = replacedFile(path);
        staged->target = QFile::encodeName(target);
        struct stat old;
        const bool replacing = ::stat(staged->target.constData(), &old) == 0;
        if (replacing) {
            if (const QString cause = cannotReplace(target); !cause.isEmpty())
                return {false, failure(path, cause)};
        }
        // A new file gets the permissions any program gives (0666 less the umask), a replaced
        // one keeps its own.
        const QFileInfo targetInfo(target);
        const QString stem = targetInfo.dir().filePath(QStringLiteral(".") + targetInfo.fileName() + QStringLiteral("."));
        for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
            staged->temp = QFile::encodeName(stem + QString::number(QRandomGenerator::global()->generate(), 36)
                                             + QStringLiteral(".part"));
            fd = ::open(staged->temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                return {false, failure(path, systemCause(errno))};
        }
        if (fd < 0)
            return {false, failure(path, systemCause(EEXIST))};
        if (replacing)
            ::fchmod(fd, old.st_mode & 07777);
        m_files.push_back(std::move(staged));
    }
    Staged &file = *m_files.back();
    const auto drop = [&](const QString &cause) {
        const std::lock_guard lock(registryLock());
        ::unlink(file.temp.constData());
        m_files.pop_back();
        return SaveResult{false, failure(path, cause)};
    };

    QFile out;
    if (!out.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return drop(out.errorString());
    }
    SaveFileSink sink(out);
    const bool produced = produce(sink);
    if (sink.failed() || !produced)
        return drop(sink.failed() ? sink.cause() : QCoreApplication::translate("picture", "its content could not be made"));
    // On the disk before it is put in place, so that a crash after the rename finds every byte.
    if (::fsync(fd) != 0)
        return drop(systemCause(errno));
    out.close();
    return {};
}

SaveResult StagedSave::commit()
{
    const std::lock_guard lock(registryLock());
    // Put in place from the last staged to the first, so that the first (a sheet, usually far
    // larger than the files described after it) is never the one kept aside: every file but
    // the one put in place last may have to be put back, and the old ones get a second name.
    struct Undo {
        QByteArray target;
        QString kept; // empty: there was no file
    };
    std::vector<Undo> undo;
    auto forget = [&] {
        for (const Undo &u : undo)
            if (!u.kept.isEmpty())
                QFile::remove(u.kept);
    };
    auto fail = [&](const QString &path, const QString &cause) {
        SaveResult result{false, failure(path, cause)};
        forget();
        discard();
        return result;
    };
    for (size_t i = m_files.size(); i-- > 1;) {
        const QString target = QFile::decodeName(m_files[i]->target);
        Undo u{m_files[i]->target, {}};
        if (QFileInfo::exists(target) && (u.kept = keepOldFile(target)).isEmpty())
            return fail(m_files[i]->path, QCoreApplication::translate("picture", "the old file could not be kept aside "
                                                                                "while the new one is put in place"));
        undo.push_back(u);
    }
    for (size_t done = 0; done < m_files.size(); ++done) {
        Staged &staged = *m_files[m_files.size() - 1 - done];
        if (::rename(staged.temp.constData(), staged.target.constData()) == 0)
            continue;
        QString cause = systemCause(errno);
        for (size_t j = 0; j < done; ++j) {
            if (undo[j].kept.isEmpty()) {
                ::unlink(undo[j].target.constData());
            } else if (::rename(QFile::encodeName(undo[j].kept).constData(), undo[j].target.constData()) == 0) {
                undo[j].kept.clear();
            } else {
                // Never lost: the old file stays under its second name, and the message says where.
                cause += QCoreApplication::translate("picture", "; the old %1 could not be put back and is kept as %2")
                             .arg(QFile::decodeName(undo[j].target), undo[j].kept);
                undo[j].kept.clear();
            }
        }
        return fail(staged.path, cause);
    }
    forget();
    m_files.clear();
    m_madeFolders.clear(); // they hold what was published
    return {};
}

void discardStagedForExit()
{
    // Held to the end, so that nothing is staged or published after this.
    registryLock().lock();
    for (StagedSave *save : registry())
        save->discard();
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
