#include "picture/base/savefile.h"

#include "picture/base/nativepath.h"

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

QString throughLink(const QString &link)
{
    return QCoreApplication::translate("picture", "%1 is a symbolic link, and nothing is written through a link.")
        .arg(displayPath(link));
}

// The file that replacing path replaces: a symbolic link's target, so that the link is kept.
QString replacedFile(const QString &path)
{
    const QFileInfo info(plainPath(path));
    return info.isSymLink() ? info.symLinkTarget() : path;
}

// A name of the save's own beside the files it replaces, short whatever the length of theirs,
// so that a file whose name takes all that the file system allows can still be replaced.
QByteArray scratchName(const char *kind)
{
    return ".corvane-" + QByteArray::number(QRandomGenerator::global()->generate(), 36) + '.' + kind;
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

// The files being produced now, the latest last.
std::mutex producingLock;
QStringList producing;

struct ProducingNow {
    explicit ProducingNow(const QString &p) : path(p)
    {
        const std::lock_guard lock(producingLock);
        producing.append(path);
    }
    ~ProducingNow()
    {
        const std::lock_guard lock(producingLock);
        producing.removeAt(producing.lastIndexOf(path));
    }
    const QString path;
};

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

// A folder that staged files sit in, held open for the whole save: files are made, renamed and
// taken away relative to it, so that the names leading to it are walked once.
struct StagedSave::Folder {
    int fd = -1;
    QString path; // for messages
    Folder(int f, const QString &p) : fd(f), path(p) {}
    ~Folder()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

struct StagedSave::Staged {
    QString path;                   // as given, for messages
    std::shared_ptr<Folder> folder; // where the target is
    QByteArray name;                // the target's name in folder: a symbolic link's target's, as the link is kept
    QByteArray temp;                // the finished content's name in folder
    bool contained = false;         // below a folder: no link is followed or replaced
};

struct StagedSave::MadeFolder {
    std::shared_ptr<Folder> parent; // null: name is a whole path
    QByteArray name;
};

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// The path of name in folder, for messages.
QString inFolder(const QString &folder, const QByteArray &name)
{
    return pathIn(folder, fromNativePath(name));
}

// A second name for the file name in folder, so that it can be put back after another file of
// the same save failed; a hard link costs nothing, a copy is the fallback.
QByteArray keepOldFile(int folder, const QByteArray &name, bool contained)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray kept = scratchName("old");
        if (::linkat(folder, name.constData(), folder, kept.constData(), 0) == 0)
            return kept;
        if (errno == EEXIST)
            continue;
        const int in = ::openat(folder, name.constData(), O_RDONLY | O_CLOEXEC | (contained ? O_NOFOLLOW : 0));
        if (in < 0)
            return {};
        const int out = ::openat(folder, kept.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        bool copied = out >= 0;
        char buffer[65536];
        for (ssize_t n; copied && (n = ::read(in, buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR)
                continue;
            copied = n > 0 && ::write(out, buffer, size_t(n)) == n;
        }
        copied = copied && ::fsync(out) == 0;
        ::close(in);
        if (out >= 0)
            ::close(out);
        if (copied)
            return kept;
        if (out >= 0)
            ::unlinkat(folder, kept.constData(), 0);
        return {};
    }
    return {};
}

} // namespace

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
        ::unlinkat(staged->folder->fd, staged->temp.constData(), 0);
    m_files.clear();
    // Deepest first; a folder that something else has been put in since stays.
    for (auto it = m_madeFolders.rbegin(); it != m_madeFolders.rend(); ++it)
        ::unlinkat(it->parent ? it->parent->fd : AT_FDCWD, it->name.constData(), AT_REMOVEDIR);
    m_madeFolders.clear();
    m_folders.clear();
}

SaveResult StagedSave::stage(const QString &path, const std::function<bool(SaveSink &)> &produce)
{
    std::unique_lock lock(registryLock());
    if (QFileInfo(plainPath(path)).isDir())
        return {false, failure(path, folderInTheWay())};
    const QFileInfo target(plainPath(replacedFile(path)));
    const QString folderPath = target.absolutePath();
    std::shared_ptr<Folder> &folder = m_folders[QStringLiteral("/") + folderPath];
    if (!folder) {
        const int fd = ::open(toNativePath(folderPath).constData(), kFolderFlags);
        if (fd < 0) {
            m_folders.erase(QStringLiteral("/") + folderPath);
            return {false, failure(path, systemCause(errno))};
        }
        folder = std::make_shared<Folder>(fd, folderPath);
    }
    return stageIn(lock, folder, toNativePath(target.fileName()), path, false, produce);
}

SaveResult StagedSave::stage(const QString &path, const QByteArray &bytes)
{
    return stage(path, [&](SaveSink &sink) { return sink.write(bytes.constData(), bytes.size()); });
}

SaveResult StagedSave::stageInside(const QString &folderPath, const QString &name,
                                   const std::function<bool(SaveSink &)> &produce)
{
    const QString path = pathIn(folderPath, name);
    std::unique_lock lock(registryLock());
    std::shared_ptr<Folder> root = m_folders[QStringLiteral("|")];
    if (!root) {
        // The folder given, and the folders above it, are the user's own: made when missing,
        // and reached as the user's links lead.
        QList<QByteArray> missing;
        for (QFileInfo up(QFileInfo(plainPath(folderPath)).absoluteFilePath()); !up.exists() && !up.isSymLink();
             up.setFile(up.absolutePath())) {
            missing.prepend(toNativePath(up.absoluteFilePath()));
            if (up.isRoot())
                break;
        }
        for (const QByteArray &made : std::as_const(missing)) {
            if (::mkdir(made.constData(), 0777) != 0 && errno != EEXIST) {
                const int error = errno;
                return {false, failure(path, QCoreApplication::translate("picture", "the folder %1 cannot be made (%2)")
                                                 .arg(displayPath(fromNativePath(made)), systemCause(error)))};
            }
            m_madeFolders.push_back({nullptr, made});
        }
        const int fd = ::open(toNativePath(plainPath(folderPath)).constData(), kFolderFlags);
        if (fd < 0)
            return {false, failure(path, systemCause(errno))};
        root = m_folders[QStringLiteral("|")] = std::make_shared<Folder>(fd, folderPath);
    }
    // Below it, every name is walked one folder at a time without following a link, so that
    // a name from a data file never leads out of the folder, whatever stands on the disk.
    const QList<QByteArray> parts = toNativePath(name).split('/');
    std::shared_ptr<Folder> folder = root;
    QString key = QStringLiteral("|");
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const QByteArray &part = parts[i];
        key += u'/' + fromNativePath(part);
        if (const auto known = m_folders.find(key); known != m_folders.end()) {
            folder = known->second;
            continue;
        }
        const QString shown = inFolder(folder->path, part);
        int fd = ::openat(folder->fd, part.constData(), kFolderFlags | O_NOFOLLOW);
        if (fd < 0 && errno == ENOENT) {
            if (::mkdirat(folder->fd, part.constData(), 0777) == 0) {
                m_madeFolders.push_back({folder, part});
            } else if (errno != EEXIST) {
                const int error = errno;
                return {false, failure(path, QCoreApplication::translate("picture", "the folder %1 cannot be made (%2)")
                                                 .arg(displayPath(shown), systemCause(error)))};
            }
            fd = ::openat(folder->fd, part.constData(), kFolderFlags | O_NOFOLLOW);
        }
        if (fd < 0) {
            const int error = errno;
            struct stat info;
            if (::fstatat(folder->fd, part.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
                return {false, failure(path, throughLink(shown))};
            return {false, failure(path, systemCause(error))};
        }
        // O_PATH opens a link itself when it is not to be followed: only a real folder goes on.
        struct stat info;
        if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
            ::close(fd);
            return {false, failure(path, throughLink(shown))};
        }
        folder = m_folders[key] = std::make_shared<Folder>(fd, shown);
    }
    return stageIn(lock, folder, parts.last(), path, true, produce);
}

SaveResult StagedSave::stageIn(std::unique_lock<std::mutex> &lock, const std::shared_ptr<Folder> &folder,
                               const QByteArray &name, const QString &path, bool contained,
                               const std::function<bool(SaveSink &)> &produce)
{
    auto staged = std::make_unique<Staged>();
    staged->path = path;
    staged->folder = folder;
    staged->name = name;
    staged->contained = contained;
    struct stat old;
    const bool replacing = ::fstatat(folder->fd, name.constData(), &old, contained ? AT_SYMLINK_NOFOLLOW : 0) == 0;
    if (replacing && S_ISLNK(old.st_mode))
        return {false, failure(path, throughLink(path))};
    if (replacing && S_ISDIR(old.st_mode))
        return {false, failure(path, folderInTheWay())};
    if (replacing) {
        // An existing file that may not be written is not replaced either, though its folder
        // would let a rename do it: opening it for appending, without creating or changing
        // it, asks the system ("Read-only file system", "Permission denied", ...).
        const int probe = ::openat(folder->fd, name.constData(),
                                   O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | (contained ? O_NOFOLLOW : 0));
        if (probe < 0)
            return {false, failure(path, systemCause(errno))};
        ::close(probe);
    }
    // A new file gets the permissions any program gives (0666 less the umask), a replaced one
    // keeps its own.
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        staged->temp = scratchName("part");
        fd = ::openat(folder->fd, staged->temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return {false, failure(path, systemCause(errno))};
    }
    if (fd < 0)
        return {false, failure(path, systemCause(EEXIST))};
    if (replacing)
        ::fchmod(fd, old.st_mode & 07777);
    m_files.push_back(std::move(staged));
    lock.unlock();

    Staged &file = *m_files.back();
    const auto drop = [&](const QString &cause) {
        const std::lock_guard relock(registryLock());
        ::unlinkat(file.folder->fd, file.temp.constData(), 0);
        m_files.pop_back();
        return SaveResult{false, failure(path, cause)};
    };
    const ProducingNow producing(path);
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

namespace {

// Whether the regular file name in folder fd holds the same bytes as the file temp beside it.
bool sameBytes(int fd, const QByteArray &temp, const QByteArray &name)
{
    struct stat a, b;
    if (::fstatat(fd, name.constData(), &b, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(b.st_mode)
        || ::fstatat(fd, temp.constData(), &a, AT_SYMLINK_NOFOLLOW) != 0 || a.st_size != b.st_size)
        return false;
    const int fa = ::openat(fd, temp.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    const int fb = ::openat(fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    bool same = fa >= 0 && fb >= 0;
    std::vector<char> x(1 << 16), y(1 << 16);
    while (same) {
        const ssize_t n = ::read(fa, x.data(), x.size());
        if (n <= 0) {
            same = n == 0 && ::read(fb, y.data(), 1) == 0;
            break;
        }
        ssize_t got = 0;
        while (got < n) {
            const ssize_t m = ::read(fb, y.data() + got, size_t(n - got));
            if (m <= 0)
                break;
            got += m;
        }
        same = got == n && std::memcmp(x.data(), y.data(), size_t(n)) == 0;
    }
    if (fa >= 0)
        ::close(fa);
    if (fb >= 0)
        ::close(fb);
    return same;
}

} // namespace

SaveResult StagedSave::commit(bool keepUnchanged, QStringList *replaced)
{
    const std::lock_guard lock(registryLock());
    if (keepUnchanged) {
        // Unchanged files are let go first: the rest is replaced all together, or none of it.
        std::erase_if(m_files, [](const std::unique_ptr<Staged> &file) {
            if (!sameBytes(file->folder->fd, file->temp, file->name))
                return false;
            ::unlinkat(file->folder->fd, file->temp.constData(), 0);
            return true;
        });
    }
    // Put in place from the last staged to the first, so that the first (a sheet, usually far
    // larger than the files described after it) is never the one kept aside: every file but
    // the one put in place last may have to be put back, and the old ones get a second name.
    struct Undo {
        const Staged *file;
        QByteArray kept; // empty: there was no file
    };
    std::vector<Undo> undo;
    auto forget = [&] {
        for (const Undo &u : undo)
            if (!u.kept.isEmpty())
                ::unlinkat(u.file->folder->fd, u.kept.constData(), 0);
    };
    auto fail = [&](const QString &path, const QString &cause) {
        SaveResult result{false, failure(path, cause)};
        forget();
        discard();
        return result;
    };
    for (size_t i = m_files.size(); i-- > 1;) {
        const Staged &file = *m_files[i];
        Undo u{&file, {}};
        struct stat info;
        if (::fstatat(file.folder->fd, file.name.constData(), &info, file.contained ? AT_SYMLINK_NOFOLLOW : 0) == 0
            && (u.kept = keepOldFile(file.folder->fd, file.name, file.contained)).isEmpty())
            return fail(file.path, QCoreApplication::translate("picture", "the old file could not be kept aside "
                                                                         "while the new one is put in place"));
        undo.push_back(u);
    }
    for (size_t done = 0; done < m_files.size(); ++done) {
        Staged &staged = *m_files[m_files.size() - 1 - done];
        const int fd = staged.folder->fd;
        if (::renameat(fd, staged.temp.constData(), fd, staged.name.constData()) == 0)
            continue;
        QString cause = systemCause(errno);
        for (size_t j = 0; j < done; ++j) {
            const Staged &back = *undo[j].file;
            if (undo[j].kept.isEmpty()) {
                ::unlinkat(back.folder->fd, back.name.constData(), 0);
            } else if (::renameat(back.folder->fd, undo[j].kept.constData(), back.folder->fd, back.name.constData()) == 0) {
                undo[j].kept.clear();
            } else {
                // Never lost: the old file stays under its second name, and the message says where.
                cause += QCoreApplication::translate("picture", "; the old %1 could not be put back and is kept as %2")
                             .arg(displayPath(inFolder(back.folder->path, back.name)),
                                  displayPath(inFolder(back.folder->path, undo[j].kept)));
                undo[j].kept.clear();
            }
        }
        return fail(staged.path, cause);
    }
    forget();
    if (replaced)
        for (const std::unique_ptr<Staged> &file : m_files)
            replaced->append(file->path);
    m_files.clear();
    m_madeFolders.clear(); // they hold what was published
    m_folders.clear();
    return {};
}

void discardStagedForExit()
{
    // Held to the end, so that nothing is staged or published after this.
    registryLock().lock();
    for (StagedSave *save : registry())
        save->discard();
}

QString stagingNow()
{
    const std::lock_guard lock(producingLock);
    return producing.isEmpty() ? QString() : producing.last();
}

QString cannotSave(const QString &path)
{
    const QFileInfo info(plainPath(path));
    if (info.isDir())
        return failure(path, folderInTheWay());
    // The system's own answers, as opening the temporary file would give them.
    const QString folder = info.absolutePath();
    if (::access(toNativePath(folder).constData(), W_OK) != 0)
        return failure(path, systemCause(errno));
    if (info.exists() && ::access(toNativePath(plainPath(replacedFile(path))).constData(), W_OK) != 0)
        return failure(path, systemCause(errno));
    return {};
}

QString cannotSaveInside(const QString &folder, const QString &name)
{
    const QString path = pathIn(folder, name);
    const int root = ::open(toNativePath(plainPath(folder)).constData(), kFolderFlags);
    if (root < 0)
        return {}; // made when saving, or refused then with the cause
    const QList<QByteArray> parts = toNativePath(name).split('/');
    QString reached = folder;
    QString why;
    int at = root;
    for (qsizetype i = 0; i < parts.size() && why.isEmpty(); ++i) {
        reached = inFolder(reached, parts[i]);
        struct stat info;
        if (::fstatat(at, parts[i].constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            break; // missing from here on: made when saving
        const bool last = i + 1 == parts.size();
        if (S_ISLNK(info.st_mode))
            why = failure(path, throughLink(reached));
        else if (last && S_ISDIR(info.st_mode))
            why = failure(path, folderInTheWay());
        else if (!last && !S_ISDIR(info.st_mode))
            why = failure(path, QCoreApplication::translate("picture", "%1 is a file, not a folder.").arg(displayPath(reached)));
        else if (!last) {
            const int next = ::openat(at, parts[i].constData(), kFolderFlags | O_NOFOLLOW);
            ::close(at);
            at = next;
            if (at < 0)
                return {};
        }
    }
    ::close(at);
    return why;
}

} // namespace picture
