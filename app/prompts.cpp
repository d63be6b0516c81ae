#include "app/prompts.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

QString dialogText(const char *text)
{
    // The file dialog's own words, translated as Qt translates them inside the dialog.
    return QCoreApplication::translate("QFileDialog", text);
}

bool folderExists(const QString &path)
{
    return QFileInfo(QFileInfo(path).absolutePath()).isDir();
}

void warnMissingFolder(QWidget *parent, const QString &title, const QString &path)
{
    QMessageBox::warning(parent, title,
                         dialogText("%1\nDirectory not found.\nPlease verify the correct directory name was given.")
                             .arg(QFileInfo(path).absolutePath()));
}

// Qt's own save dialog takes a name in a folder that does not exist; this one stays open and
// says so, as it does for other names it cannot use.
class SaveDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (!files.isEmpty() && !QFileInfo(files.constFirst()).isDir() && !folderExists(files.constFirst())) {
            warnMissingFolder(this, windowTitle(), files.constFirst());
            return;
        }
        QFileDialog::accept();
    }
};

} // namespace

void Prompts::message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Corvane"), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("corvaneMessage"));
    box.exec();
}

Prompts::SaveChoice Prompts::saveBitmap(QWidget *parent, const QString &folder)
{
    // Set up anew on every run: no title of our own, no default suffix, an existing folder
    // required, overwrite confirmation on.
    SaveDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("savebmp"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Window Bitmaps (*.bmp)"));
    dialog.setDirectory(folder);
    dialog.selectFile(QString());
    dialog.setDefaultSuffix(QString());
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    QString path;
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        path = dialog.selectedFiles().constFirst();
        if (folderExists(path))
            break;
        // Only a desktop's own dialog gets here; it is shown again, as ours stays open.
        warnMissingFolder(parent, dialog.windowTitle(), path);
    }
    // Paths longer than the dialog's limit are treated as no choice.
    constexpr int kMaxPath = 3000;
    if (path.size() > kMaxPath)
        return {};
    return {path, QFileInfo(path).fileName()};
}

bool Prompts::confirmReplace(QWidget *parent, const QString &path)
{
    const QMessageBox::StandardButton answer = QMessageBox::warning(
        parent, dialogText("Save As"),
        dialogText("%1 already exists.\nDo you want to replace it?").arg(QFileInfo(path).fileName()),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}
