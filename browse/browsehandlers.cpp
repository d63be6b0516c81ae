// The window's browsing handlers: drive -> folder -> files kept in step, and the preview.

#include <QDir>
#include <QLabel>
#include <QPixmap>

#include "app/mainwindow.h"
#include "browse/drivelist.h"
#include "browse/filelist.h"
#include "browse/folderlist.h"
#include "picture/picture.h"

namespace {

// The folder a drive opens on: the process's current folder when it lies on that drive.
QString startFolder(const QString &root)
{
    const QString current = QDir::currentPath();
    const bool onDrive = root == u'/' || current == root || current.startsWith(root + u'/');
    return onDrive ? current : root;
}

} // namespace

void MainWindow::buildBrowser()
{
    // The lists start on the current drive and folder; the file list reads it once the load
    // step has given it its pattern.
    Dir1->setPath(Drive1->rootPath(), startFolder(Drive1->rootPath()));
    File1->setPath(Dir1->path());

    int shownDrive = Drive1->currentIndex();
    connect(Drive1, &browse::DriveList::driveChanged, this, [this, shownDrive]() mutable {
        const int previous = shownDrive;
        shownDrive = Drive1->currentIndex();
        Drive1_Change();
        // A drive that cannot be read leaves every list where it was.
        if (Dir1->root() != Drive1->rootPath()) {
            Drive1->restore(previous);
            shownDrive = previous;
        }
    });
    connect(Dir1, &browse::FolderList::pathChanged, this, &MainWindow::Dir1_Change);
    connect(File1, &browse::FileList::itemClicked, this, &MainWindow::File1_Click);
}

void MainWindow::Drive1_Change()
{
    const QString root = Drive1->rootPath();
    Dir1->setPath(root, startFolder(root));
}

void MainWindow::Dir1_Change()
{
    File1->setPath(Dir1->path());
}

void MainWindow::File1_Click()
{
    const int current = File1->currentPosition();
    if (current < 0)
        return;
    QString folder = File1->path();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const picture::Loaded loaded = picture::load(folder + File1->name(current));
    // A picture that cannot be loaded clears the preview rather than leaving a stale one that
    // looks like the clicked file; the write command reports the cause when it is used.
    if (!loaded.ok()) {
        Open->clear();
        Open->setToolTip(loaded.message);
        return;
    }
    // Scaled once here to the area's size: stretched or reduced, the aspect ratio not kept.
    Open->setToolTip(QString());
    Open->setPixmap(QPixmap::fromImage(
        loaded.image.scaled(Open->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}
