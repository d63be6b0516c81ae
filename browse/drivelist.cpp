#include "browse/drivelist.h"

#include <QDir>
#include <QSignalBlocker>

#include "browse/deadline.h"

namespace browse {

DriveList::DriveList(QWidget *parent)
    : QComboBox(parent)
    , m_drives(within<QList<Drive>>(kFolderDeadline, [] { return drives(); })
                   .value_or(QList<Drive>{{QStringLiteral("/"), QStringLiteral("/")}}))
{
    for (const Drive &d : std::as_const(m_drives))
        addItem(d.label, d.rootPath);
    setCurrentIndex(driveIndexFor(m_drives, QDir::currentPath()));
    connect(this, &QComboBox::currentIndexChanged, this, &DriveList::driveChanged);
}

const Drive &DriveList::drive() const
{
    static const Drive none;
    const int i = currentIndex();
    return i >= 0 && i < m_drives.size() ? m_drives[i] : none;
}

void DriveList::setDrives(const QList<Drive> &drives, int current)
{
    const QSignalBlocker blocker(this);
    m_drives = drives;
    clear();
    for (const Drive &d : std::as_const(m_drives))
        addItem(d.label, d.rootPath);
    setCurrentIndex(current);
}

void DriveList::restore(int index)
{
    const QSignalBlocker blocker(this);
    setCurrentIndex(index);
}

} // namespace browse
