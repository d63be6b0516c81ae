// The main window's Help menu: the help contents and the about box.
#include "app/mainwindow.h"

#include "about/aboutform.h"
#include "about/helpdialog.h"

void MainWindow::buildHelp()
{
    CommonDialog1 = new HelpDialog(this);
}

void MainWindow::Contents_Click()
{
    CommonDialog1->setHelpFile(QStringLiteral("Corvane.hlp"));
    CommonDialog1->setHelpCommand(HelpDialog::HelpCommand::Contents);
    CommonDialog1->showHelp();
}

void MainWindow::About_Click()
{
    // Created on first showing; "Ok" keeps it for the next, the frame's close button ends it.
    if (!m_aboutForm)
        m_aboutForm = new AboutForm(this);
    m_aboutForm->showModal();
}
