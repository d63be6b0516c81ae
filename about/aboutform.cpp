#include "about/aboutform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "about/artwork.h"

namespace {

QPalette blackPalette(const QPalette &base)
{
    QPalette palette = base;
    palette.setColor(QPalette::Window, Qt::black);
    return palette;
}

} // namespace

AboutForm::AboutForm(QWidget *mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , m_mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("aboutForm"));
    setWindowTitle(QStringLiteral("About Corvane"));
    setFixedSize(kWidth, kHeight);
    setPalette(blackPalette(palette()));
    setAutoFillBackground(true);
    // Only the frame's close button discards the box; "Ok" merely hides it.
    setAttribute(Qt::WA_DeleteOnClose);
    // A hidden box must never keep the program alive once the main window is gone.
    setAttribute(Qt::WA_QuitOnClose, false);

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(16, 8, 50, 50);
    Picture1->setFrameShape(QFrame::NoFrame);
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setPixmap(QPixmap::fromImage(artwork::emblem()));

    // The logo is taller than the box's inside; like any picture box it shows the top-left part.
    Picture2 = new QLabel(this);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(24, 72, 85, 79);
    Picture2->setFrameStyle(QFrame::Box | QFrame::Plain);
    Picture2->setLineWidth(2);
    QPalette framePalette = blackPalette(Picture2->palette());
    framePalette.setColor(QPalette::WindowText, QColor(160, 160, 160));
    Picture2->setPalette(framePalette);
    Picture2->setAutoFillBackground(true);
    Picture2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture2->setPixmap(QPixmap::fromImage(artwork::logo()));

    title = new QLabel(QStringLiteral("Corvane v1.0"), this);
    title->setObjectName(QStringLiteral("title"));
    title->setGeometry(120, 88, 163, 19);
    QFont titleFont(QStringLiteral("Times New Roman"));
    titleFont.setStyleHint(QFont::Serif);
    titleFont.setPointSizeF(12.0);
    titleFont.setBold(true);
    title->setFont(titleFont);
    QPalette titlePalette = blackPalette(title->palette());
    titlePalette.setColor(QPalette::WindowText, QColor(255, 255, 0));
    title->setPalette(titlePalette);
    title->setAutoFillBackground(true);

    aboutOK = new QPushButton(QStringLiteral("Ok"), this);
    aboutOK->setObjectName(QStringLiteral("aboutOK"));
    aboutOK->setGeometry((kWidth - 105) / 2, 232, 105, 25);
    QFont buttonFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    buttonFont.setPointSizeF(9.75);
    buttonFont.setBold(true);
    aboutOK->setFont(buttonFont);
    // The button keeps the ordinary button colours, not the box's black.
    aboutOK->setPalette(QApplication::palette(aboutOK));
    connect(aboutOK, &QPushButton::clicked, this, &AboutForm::aboutOK_Click);
}

void AboutForm::showModal()
{
    QIcon icon = m_mainWindow ? m_mainWindow->windowIcon() : QApplication::windowIcon();
    setWindowIcon(icon);
    if (m_mainWindow) {
        const QRect owner = m_mainWindow->geometry();
        move(owner.center() - QPoint(kWidth / 2, kHeight / 2));
    }
    setWindowModality(Qt::ApplicationModal);
    show();
    raise();
    activateWindow();
    aboutOK->setFocus(Qt::OtherFocusReason);
}

void AboutForm::aboutOK_Click()
{
    hide();
    if (m_mainWindow) {
        m_mainWindow->show();
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
}

void AboutForm::keyPressEvent(QKeyEvent *event)
{
    // The box has no cancel button: Esc does nothing, as in the main window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void AboutForm::closeEvent(QCloseEvent *event)
{
    QDialog::closeEvent(event);
    // Window managers differ in where they put the focus when a modal box goes away (and a
    // bare X server puts it nowhere), so hand it back to the main window ourselves.
    if (event->isAccepted() && m_mainWindow && m_mainWindow->isVisible())
        m_mainWindow->activateWindow();
}
