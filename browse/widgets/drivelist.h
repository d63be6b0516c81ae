#pragma once

#include <QComboBox>

#include <functional>

#include "browse/core/folders.h"
#include "browse/core/reader.h"

namespace browse {

// The drive list: the machine's real disks, one of them current.
class DriveList : public QComboBox
{
    Q_OBJECT
public:
    // The disks come from enumerate (tests stand in for a mount table that does not answer).
    // When it does not answer within a short wait the list offers the root file system until
    // it does.
    explicit DriveList(QWidget *parent = nullptr, const std::function<QList<Drive>()> &enumerate = browse::drives);

    const Drive &drive() const;      // the current drive
    QString rootPath() const { return drive().rootPath; }
    const QList<Drive> &allDrives() const { return m_drives; }
    int driveCount() const { return int(m_drives.size()); }
    bool isReading() const { return m_reader.isReading(); }

    // Makes index current without announcing a change (used to step back after a failure).
    void restore(int index);

    // Replaces the drives shown without announcing a change (tests use folders as drives).
    void setDrives(const QList<Drive> &drives, int current);

signals:
    // The user picked a drive, the current one too, or the current drive was changed.
    void driveChanged();

private:
    QList<Drive> m_drives;
    bool m_changeAnnounced = false;
    Reader<QList<Drive>> m_reader{this};
};

} // namespace browse
