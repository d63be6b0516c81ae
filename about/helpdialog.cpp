#include "about/helpdialog.h"

#include <QWidget>

#include "about/helpviewer.h"

HelpDialog::HelpDialog(QWidget *owner)
    : QObject(owner)
    , m_owner(owner)
{
    setObjectName(QStringLiteral("CommonDialog1"));
}

void HelpDialog::showHelp()
{
    if (!m_viewer)
        m_viewer = new HelpViewer(m_owner);
    const QStringList folders = m_folders.isEmpty() ? help::defaultFolders() : m_folders;
    m_viewer->openFile(m_file, folders, m_command == HelpCommand::Contents);
    m_viewer->show();
    m_viewer->raise();
    m_viewer->activateWindow();
}

HelpViewer *HelpDialog::viewer() const
{
    return m_viewer;
}
