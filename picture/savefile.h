#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <span>

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

} // namespace picture
