#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace picture {

struct SaveResult {
    bool ok = true;
    QString message; // for failures: names the path and the cause
};

// Receives the bytes of a file being saved; a write that fails or falls short is remembered.
class SaveSink
{
public:
    struct Part {
        const char *data;
        qint64 size;
    };

    virtual ~SaveSink() = default;
    virtual bool write(const char *data, qint64 size) = 0;
    // The parts one after another, as write() would take them, in as few calls to the system as
    // it allows: rows go to the file straight from where they lie.
    virtual bool write(std::span<const Part> parts);
};

// Replaces path atomically with what produce writes: a temporary file in the same folder is
// renamed over the target only when every byte has reached it. On failure an existing file
// stays byte-identical and no temporary file is left. A symbolic link is followed: the
// linked file is replaced and the link kept.
SaveResult saveAtomically(const QString &path, const std::function<bool(SaveSink &)> &produce);

// Several files replaced together or not at all: each is written to a temporary file beside
// its target first (and closed, so that thousands may be staged); commit() then puts them in
// place one after another, the first staged last, and when one cannot be, puts back what the
// others replaced. Anything staged and not committed is discarded, with the folders that
// staging made. Temporary names are short ones of the save's own, so that a target may have a
// name as long as the file system allows.
class StagedSave
{
public:
    StagedSave();
    ~StagedSave();
    StagedSave(const StagedSave &) = delete;
    StagedSave &operator=(const StagedSave &) = delete;

    // Writes what produce makes into path's temporary file; nothing on disk is replaced yet.
    // path's folder must exist; a symbolic link at path is followed, as saveAtomically() does.
    SaveResult stage(const QString &path, const std::function<bool(SaveSink &)> &produce);
    // The same for a file of these bytes.
    SaveResult stage(const QString &path, const QByteArray &bytes);
    // The same for name (a relative path, from a data file, say) inside folder: folder and the
    // folders name holds are made when missing, and below folder no symbolic link is followed
    // or replaced: a link where name leads is refused, so nothing is written outside folder.
    SaveResult stageInside(const QString &folder, const QString &name, const std::function<bool(SaveSink &)> &produce);
    // Replaces every staged file, or none of them. With keepUnchanged, a file whose bytes are
    // those of the regular file already there is not replaced, so that its time stays and a
    // build that looks at times sees nothing new. replaced, when given, gets the paths (as
    // staged, in staging order) of the files put in place.
    SaveResult commit(bool keepUnchanged = false, QStringList *replaced = nullptr);

private:
    friend void discardStagedForExit();
    void discard(); // with the registry's lock held

    struct Folder;
    struct Staged;
    struct MadeFolder;
    SaveResult stageIn(std::unique_lock<std::mutex> &lock, const std::shared_ptr<Folder> &folder, const QByteArray &name,
                       const QString &path, bool contained, const std::function<bool(SaveSink &)> &produce);

    std::vector<std::unique_ptr<Staged>> m_files;
    std::vector<MadeFolder> m_madeFolders;              // outermost first
    std::map<QString, std::shared_ptr<Folder>> m_folders; // held open while files are staged in them
};

// For a program about to end on a signal (Ctrl-C, a termination): takes away every staged file
// and made folder of every StagedSave in the process, and keeps any from being staged or
// committed after. A commit under way finishes first, so that a run is published whole or not
// at all. Called from an ordinary thread, never from a signal handler.
void discardStagedForExit();

// The path of a file being produced into a StagedSave at this moment, for a message that must
// name it without knowing it (a library that ends the process); empty when none is.
QString stagingNow();

// Why saving to path would be refused before a byte is written (a missing folder, a folder in
// the way, no permission, a read-only file system), in saveAtomically's words; empty when
// nothing stands in the way. Lets a dry run refuse what the real one would.
QString cannotSave(const QString &path);

// Why stageInside() would refuse name inside folder for what is on disk now (a symbolic link
// on the way, a file where a folder goes, a folder where the file goes); empty when nothing
// stands in the way.
QString cannotSaveInside(const QString &folder, const QString &name);

} // namespace picture
