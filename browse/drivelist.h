#pragma once

#include <QComboBox>

#include "browse/folders.h"

namespace browse {

// The drive list: the machine's real disks, one of them current.
class DriveList : public QComboBox
{
    Q_OBJECT
public:
    explicit DriveList(QWidget *parent = nullptr);

    const Drive &drive() const;      // the current drive
    QString rootPath() const { return drive().rootPath; }
    int driveCount() const { return int(m_drives.size()); }

    // Makes index current without announcing a change (used to step back after a failure).
    void restore(int index);

    // Replaces the drives shown without announcing a change (tests use folders as drives).
    void setDrives(const QList<Drive> &drives, int current);

signals:
    void driveChanged();

private:
    QList<Drive> m_drives;
};

} // namespace browse
