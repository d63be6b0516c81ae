#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class HelpViewer;
class QWidget;

// The main window's help component: it is told a help file and a request, then hands them to
// the help viewer. It waits for nothing and reads no result.
class HelpDialog : public QObject
{
    Q_OBJECT
public:
    enum class HelpCommand { None, Contents };

    // owner is the window the help is shown for; the viewer belongs to it.
    explicit HelpDialog(QWidget *owner);

    void setHelpFile(const QString &file) { m_file = file; }
    QString helpFile() const { return m_file; }
    void setHelpCommand(HelpCommand command) { m_command = command; }
    HelpCommand helpCommand() const { return m_command; }

    // Opens the viewer (one window, reused) on the help file; returns at once.
    void showHelp();

    // The viewer once help has been shown, else null.
    HelpViewer *viewer() const;

    // Tests point the search elsewhere; an empty list restores the viewer's own folders.
    void setSearchFolders(const QStringList &folders) { m_folders = folders; }

private:
    QWidget *m_owner;
    QPointer<HelpViewer> m_viewer;
    QString m_file;
    HelpCommand m_command = HelpCommand::None;
    QStringList m_folders;
};
