#include "app/prompts.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

void Prompts::message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Corvane"), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("corvaneMessage"));
    box.exec();
}

Prompts::SaveChoice Prompts::saveBitmap(QWidget *parent, const QString &folder)
{
    // Set up anew on every run: no title of our own, no default suffix, an existing folder
    // required (Qt's non-native dialog refuses a missing folder), overwrite confirmation on.
    QFileDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("savebmp"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Window Bitmaps (*.bmp)"));
    dialog.setDirectory(folder);
    dialog.selectFile(QString());
    dialog.setDefaultSuffix(QString());
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    QString path = dialog.selectedFiles().constFirst();
    // Paths longer than the dialog's limit are treated as no choice.
    constexpr int kMaxPath = 3000;
    if (path.size() > kMaxPath)
        return {};
    return {path, QFileInfo(path).fileName()};
}
