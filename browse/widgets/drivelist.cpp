#include "browse/widgets/drivelist.h"

#include <QSignalBlocker>
#include <QTimer>

namespace browse {

DriveList::DriveList(QWidget *parent, const std::function<QList<Drive>()> &enumerate)
    : QComboBox(parent)
{
    const std::optional<QList<Drive>> found = m_reader.read(enumerate, [this](const QList<Drive> &late) {
        // The current drive stays current when the full list has it.
        const int keep = int(std::find_if(late.cbegin(), late.cend(), [this](const Drive &d) {
                                 return d.rootPath == rootPath();
                             }) - late.cbegin());
        setDrives(late, keep < late.size() ? keep : driveIndexFor(late, currentFolder()));
        unsetCursor();
    });
    if (!found)
        setCursor(Qt::WaitCursor);
    setDrives(found.value_or(QList<Drive>{{QStringLiteral("/"), QStringLiteral("/")}}), -1);
    setCurrentIndex(driveIndexFor(m_drives, currentFolder()));

    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        // A pick that changes the drive is followed, in the same event, by "activated".
        m_changeAnnounced = true;
        QTimer::singleShot(0, this, [this] { m_changeAnnounced = false; });
        emit driveChanged();
    });
    // Picking the current drive again changes no index, yet reads the drive anew: the way out
    // when its folder has gone.
    connect(this, &QComboBox::activated, this, [this] {
        if (!m_changeAnnounced)
            emit driveChanged();
    });
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
