#pragma once

#include <QStringList>
#include <QWidget>

class QPushButton;
class QTextBrowser;

namespace help {

// Where a bare help file name is looked for, in order: the current folder, the program's
// folder (a build tree keeps a copy there), the data folder installed beside it.
QStringList defaultFolders();

// The path of the first folder in folders that holds a file called name, or "" when none does.
QString findFile(const QString &name, const QStringList &folders);

} // namespace help

// The program's own help viewer: a window of its own, never modal, showing an HTML help file.
class HelpViewer : public QWidget
{
    Q_OBJECT
public:
    explicit HelpViewer(QWidget *owner);

    // Finds name in folders and shows it, at its contents topic when contents is set; when the
    // file cannot be found or read, shows a report naming where it looked instead.
    void openFile(const QString &name, const QStringList &folders, bool contents);

    // The file shown, or "" while the viewer shows its report.
    QString shownPath() const { return m_path; }
    QTextBrowser *browser() const { return m_browser; }

private:
    void showReport(const QString &html);
    void goToContents();

    QTextBrowser *m_browser;
    QPushButton *m_contents;
    QString m_path;
};
