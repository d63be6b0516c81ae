// The "&Write Image Strip" command: frame-count rules, gathering the selection, composing the
// strip and writing the output files, in that order, all inside the button's handler. The
// pictures are decoded before the save dialog, so that every refusal comes before it; the strip
// itself is composed band by band straight into its file, never held whole.

#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>

#include <exception>
#include <new>

#include "app/mainwindow.h"
#include "browse/widgets/filelist.h"
#include "picture/pixels/surface.h"
#include "strip/frames.h"
#include "strip/names.h"
#include "strip/numbers.h"
#include "strip/publish/sheetfile.h"

namespace {

QString tooManyHorizontal(int maxImages, int frameTotal)
{
    return QStringLiteral("# of horizontal frames must be less than ") + strip::numberForm(maxImages)
        + QStringLiteral(". Resetting to ") + strip::numberForm(frameTotal) + QStringLiteral(" horizontal frames.");
}

QString limitMessage(int maxImages, int frameTotal)
{
    return QStringLiteral("Maximum of ") + strip::numberForm(maxImages)
        + QStringLiteral(" frames are allowed! You selected more than ") + strip::numberForm(frameTotal)
        + QStringLiteral(" frames.");
}

QString firstFramesMessage(int maxImages)
{
    return QStringLiteral("The first ") + strip::numberForm(maxImages)
        + QStringLiteral(" Frames will be used for the image strip.");
}

} // namespace

void MainWindow::Cmd_Write_File_Click()
{
    // Nothing may leave a slot: a failure of memory anywhere in the command ends the command,
    // with a message, and the window goes on.
    try {
        writeImageStrip();
    } catch (const std::bad_alloc &) {
        m_prompts->message(this, tr("The strip cannot be made: there is not enough memory."));
        numhFrames->setText(QStringLiteral("10"));
        closeCommand();
    } catch (const std::exception &e) {
        m_prompts->message(this, tr("The strip cannot be made: %1").arg(QString::fromLocal8Bit(e.what())));
        numhFrames->setText(QStringLiteral("10"));
        closeCommand();
    }
}

void MainWindow::writeImageStrip()
{
    // No columns: the count is reset to 10. A count above 0 that still rounds to no column at
    // all is treated like 0: there is no grid to lay out for it.
    const double asked = strip::readNumber(numhFrames->text());
    if (!(asked > 0.5)) {
        m_prompts->message(this, QStringLiteral(
            "# of horizontal frames must be greater than zero. Resetting to 10 horizontal frame(s)."));
        numhFrames->setText(QStringLiteral("10"));
    }

    setCursor(Qt::WaitCursor);

    bool overLimit = false;
    const QStringList paths = selectedPaths(&overLimit);
    const strip::GatherResult gathered = strip::loadPictures(paths);
    for (int k = 0; k < gathered.loaded(); ++k)
        theFrame[k]->setPicture(gathered.pictures[k].decoded.constFirst());
    if (!gathered.ok()) {
        // Nothing is composed or written from a run with a picture that cannot be loaded.
        setCursor(Qt::ArrowCursor);
        m_prompts->message(this, gathered.failure.message);
        closeCommand();
        return;
    }
    if (overLimit) {
        m_prompts->message(this, limitMessage(MAX_IMAGES, int(paths.size())));
        m_prompts->message(this, firstFramesMessage(MAX_IMAGES));
    }
    const int frameTotal = gathered.loaded();

    setCursor(Qt::ArrowCursor);

    if (frameTotal == 0) {
        m_prompts->message(this, QStringLiteral("No images were selected!"));
        closeCommand();
        return;
    }

    // More columns than the frame limit: a single row of every frame.
    if (strip::readNumber(numhFrames->text()) > MAX_IMAGES) {
        m_prompts->message(this, tooManyHorizontal(MAX_IMAGES, frameTotal));
        numhFrames->setText(strip::numberForm(frameTotal));
    }
    double horizontal = strip::readNumber(numhFrames->text());
    if (frameTotal < horizontal)
        horizontal = frameTotal;

    const strip::StripPlan plan = strip::planStrip(gathered.pictures, frameTotal, horizontal);
    if (!plan.cell.isEmpty()) {
        bmp_width = qint16(plan.cell.width());
        bmp_height = qint16(plan.cell.height());
    }
    if (plan.ok)
        m_stripSize = QSize(int(plan.job.sheet.width), int(plan.job.sheet.height));
    if (!plan.ok) {
        m_prompts->message(this, plan.message);
        numhFrames->setText(QStringLiteral("10"));
        closeCommand();
        return;
    }

    const Prompts::SaveChoice choice = m_prompts->saveBitmap(this, File1->path());
    QString bitmapPath;
    if (!choice.path.isEmpty()) {
        bitmapPath = strip::bitmapPath(choice.path);
        // The dialog asked only about the name as typed; the doubled-extension rule may have
        // turned it into another file that exists. Declining is cancelling.
        if (bitmapPath != choice.path && QFileInfo(bitmapPath).exists() && !m_prompts->confirmReplace(this, bitmapPath))
            bitmapPath.clear();
    }
    if (bitmapPath.isEmpty()) {
        m_prompts->message(this, QStringLiteral("Operation Cancelled"));
    } else {
        setCursor(Qt::WaitCursor);
        const strip::SheetWritten bitmap =
            strip::writeSheet(plan.job, bitmapPath, strip::SheetFormat::Bmp, Image_strip->background());
        if (!bitmap.ok) {
            setCursor(Qt::ArrowCursor);
            m_prompts->message(this, bitmap.message);
        } else if (chkWriteTextFile->checkState() == Qt::Checked) {
            // The bitmap is complete on disk before the text file is started; a failure here
            // leaves the bitmap in place.
            const QByteArray line = strip::companionLine(strip::imageName(choice.title), horizontal, frameTotal);
            const picture::SaveResult text = picture::saveAtomically(
                strip::textPath(bitmapPath), [&](picture::SaveSink &sink) { return sink.write(line.constData(), line.size()); });
            if (!text.ok) {
                setCursor(Qt::ArrowCursor);
                m_prompts->message(this, text.message);
            }
        }
    }
    numhFrames->setText(QStringLiteral("10"));
    closeCommand();
}

QStringList MainWindow::selectedPaths(bool *overLimit) const
{
    QStringList paths;
    *overLimit = false;
    for (int i = 0, count = File1->count(); i < count; ++i) {
        if (!File1->isSelected(i))
            continue;
        if (paths.size() == MAX_IMAGES) {
            *overLimit = true;
            break;
        }
        // The separator is always added; at the root the path holds "//", which opens the same file.
        paths.append(File1->path() + u'/' + File1->name(i));
    }
    return paths;
}

void MainWindow::closeCommand()
{
    // The command's pictures go with it: the next command decodes its own.
    for (picture::PictureHolder *holder : theFrame)
        holder->setPicture(QImage());
    setCursor(Qt::ArrowCursor);
    File1->refresh();
}
