// The window's browsing handlers: drive -> folder -> files kept in step, and the preview.

#include <QLabel>
#include <QPixmap>

#include "app/mainwindow.h"
#include "browse/widgets/drivelist.h"
#include "browse/widgets/filelist.h"
#include "browse/widgets/folderlist.h"
#include "browse/core/preview.h"
#include "picture/source/picture.h"

void MainWindow::buildBrowser()
{
    connect(Dir1, &browse::FolderList::pathChanged, this, &MainWindow::Dir1_Change);
    connect(File1, &browse::FileList::itemClicked, this, &MainWindow::File1_Click);
    connect(Drive1, &browse::DriveList::driveChanged, this, &MainWindow::Drive1_Change);
    // A drive that cannot be read leaves every list where it was: the drive list steps back to
    // the drive the folder list still shows.
    connect(Dir1, &browse::FolderList::readingEnded, this, [this] {
        const int shown = Drive1->findData(Dir1->root());
        if (Drive1->rootPath() != Dir1->root() && shown >= 0)
            Drive1->restore(shown);
    });

    // The lists start on the current drive and folder; the file list reads it once the load
    // step has given it its pattern.
    Drive1_Change();
}

void MainWindow::Drive1_Change()
{
    Dir1->setPath(Drive1->rootPath(), browse::startFolder(Drive1->allDrives(), Drive1->currentIndex()));
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
    // Drawn at the screen's own pixels, so that a scaled desktop shows it sharp.
    const qreal ratio = Open->devicePixelRatioF();
    const QSize pixels = (QSizeF(Open->size()) * ratio).toSize();
    const QString path = folder + File1->name(current);
    // Decoded away from the window, so that clicks and keys never wait for a large picture; a
    // decode that a later click made stale is dropped, never shown.
    const quint64 ticket = ++m_previewAsked;
    m_previewPool.clear();
    m_previewPool.start([this, ticket, path, pixels, ratio] {
        const picture::Loaded loaded = picture::loadForView(path, pixels);
        // Scaled once here to the area's size: stretched or reduced, the aspect ratio not kept.
        const QImage image = loaded.ok() ? browse::previewImage(loaded.image, pixels) : QImage();
        QMetaObject::invokeMethod(this, [this, ticket, image, message = loaded.message, ratio] {
            showPreview(ticket, image, message, ratio);
        }, Qt::QueuedConnection);
    });
}

void MainWindow::showPreview(quint64 ticket, const QImage &image, const QString &refusal, qreal ratio)
{
    if (ticket != m_previewAsked)
        return;
    m_previewShown = ticket;
    // A picture that cannot be loaded clears the preview rather than leaving a stale one that
    // looks like the clicked file; the write command reports the cause when it is used.
    if (image.isNull()) {
        Open->clear();
        Open->setToolTip(refusal);
        return;
    }
    Open->setToolTip(QString());
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    Open->setPixmap(pixmap);
}
