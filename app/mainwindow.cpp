#include "app/mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "about/aboutform.h"
#include "app/appicon.h"
#include "browse/widgets/drivelist.h"
#include "browse/widgets/filelist.h"
#include "browse/widgets/folderlist.h"
#include "picture/pixels/surface.h"

namespace {

// The window's sans-serif font at its fixed point sizes. Narrow fonts come first so that the
// fixed-size labels keep their whole text; any sans-serif family serves when none of them is
// installed.
QFont sansFont(qreal pointSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

template <typename W>
W *place(W *widget, const char *name, int x, int y, int width, int height)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, width, height);
    return widget;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                              | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                              | Qt::MSWindowsFixedSizeDialogHint)
    , m_prompts(std::make_unique<Prompts>())
{
    setObjectName(QStringLiteral("Corvane"));
    m_previewPool.setMaxThreadCount(1);
    setWindowTitle(QStringLiteral("Corvane"));
    setWindowIcon(appIcon());

    // The menu bar first: its making does not need the fonts, which may still be loading.
    buildMenus();
    buildElements();
    buildBrowser();
    buildHelp();
    Form_Load();

    // The client area is fixed; the menu bar sits above it, so the frame follows its height.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    Drive1->setFocus(Qt::OtherFocusReason);
}

MainWindow::~MainWindow()
{
    // A preview still waiting is not decoded; one decoding is let finish before the window goes.
    m_previewPool.clear();
    m_previewPool.waitForDone();
}

AboutForm *MainWindow::aboutForm() const
{
    return m_aboutForm;
}

void MainWindow::setPrompts(std::unique_ptr<Prompts> prompts)
{
    m_prompts = std::move(prompts);
}

QColor MainWindow::menuBarColor()
{
    return QApplication::palette("QMenuBar").color(QPalette::Window);
}

QColor MainWindow::menuTextColor()
{
    return QApplication::palette("QMenuBar").color(QPalette::WindowText);
}

void MainWindow::buildElements()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(635, 388);
    client->setAutoFillBackground(true);
    QPalette pal = client->palette();
    pal.setColor(QPalette::Window, menuBarColor());
    pal.setColor(QPalette::WindowText, menuTextColor());
    client->setPalette(pal);
    setCentralWidget(client);

    const QFont windowFont = sansFont(9.75, true);
    const QFont buttonFont = sansFont(8.25, true);
    const QFont listFont = sansFont(8.25, false);

    Drive1 = place(new browse::DriveList(client), "Drive1", 8, 8, 193, 21);
    Dir1 = place(new browse::FolderList(client), "Dir1", 8, 40, 193, 336);
    File1 = place(new browse::FileList(client), "File1", 208, 8, 150, 370);
    for (QWidget *list : {static_cast<QWidget *>(Drive1), static_cast<QWidget *>(Dir1), static_cast<QWidget *>(File1)})
        list->setFont(listFont);

    numhFrames = place(new QLineEdit(QStringLiteral("10"), client), "numhFrames", 544, 288, 41, 24);
    numhFrames->setFont(windowFont);

    Cmd_Write_File = place(new QPushButton(QStringLiteral("&Write Image Strip"), client), "Cmd_Write_File", 368, 328, 161, 25);
    Cmd_Exit = place(new QPushButton(QStringLiteral("E&xit"), client), "Cmd_Exit", 536, 328, 73, 25);
    Cmd_Exit->setToolTip(QStringLiteral("Exit the program"));
    // Two equal mnemonics would make Alt+X ambiguous, so the menu's Exit owns the key; the
    // button keeps its underlined letter and does the same thing.
    Cmd_Exit->setShortcut(QKeySequence());
    for (QPushButton *button : {Cmd_Write_File, Cmd_Exit}) {
        button->setFont(buttonFont);
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    chkWriteTextFile = place(new QCheckBox(QStringLiteral("Write .txt help file?"), client), "chkWriteTextFile", 376, 360, 153, 17);
    chkWriteTextFile->setFont(windowFont);
    chkWriteTextFile->setToolTip(QStringLiteral(
        "Clicking this will cause a .txt file to be written with the name of the image, # of Horizontal & Total Frames."));

    lblpreview = place(new QLabel(QStringLiteral("Preview of selected image:"), client), "lblpreview", 368, 8, 239, 21);
    Open = place(new QLabel(client), "Open", 368, 32, 240, 240);
    Open->setScaledContents(true); // fills the whole area; the aspect ratio is not kept
    lblnumframes = place(new QLabel(QStringLiteral("# Horizontal Frames:"), client), "lblnumframes", 384, 288, 147, 21);
    for (QLabel *label : {lblpreview, lblnumframes})
        label->setFont(windowFont);

    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, File1);
    setTabOrder(File1, numhFrames);
    setTabOrder(numhFrames, Cmd_Write_File);
    setTabOrder(Cmd_Write_File, Cmd_Exit);
    setTabOrder(Cmd_Exit, chkWriteTextFile);

    connect(Cmd_Write_File, &QPushButton::clicked, this, &MainWindow::Cmd_Write_File_Click);
    connect(Cmd_Exit, &QPushButton::clicked, this, &MainWindow::Cmd_Exit_Click);

    // Hidden surfaces: plain objects, so nothing can ever show them.
    const QColor background = menuBarColor();
    for (int i = 0; i < kFrameHolders; ++i)
        theFrame[i] = new picture::PictureHolder(i, this);
    Image_strip = new picture::Surface(32, 25, background, this);
    Image_strip->setObjectName(QStringLiteral("Image_strip"));
    clearimage = new picture::Surface(32, 25, background, this);
    clearimage->setObjectName(QStringLiteral("clearimage"));
}

void MainWindow::buildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));

    Exit = bar->addAction(QStringLiteral("E&xit"));
    Exit->setObjectName(QStringLiteral("Exit"));
    connect(Exit, &QAction::triggered, this, &MainWindow::Exit_Click);

    Help = bar->addMenu(QStringLiteral("&Help"));
    // The menu bar's item is what scripts and tests look up as "Help", like the other actions.
    Help->setObjectName(QStringLiteral("HelpMenu"));
    Help->menuAction()->setObjectName(QStringLiteral("Help"));

    Contents = Help->addAction(QStringLiteral("&Contents..."));
    Contents->setObjectName(QStringLiteral("Contents"));
    Contents->setShortcut(QKeySequence(Qt::Key_F1));
    Contents->setShortcutContext(Qt::WindowShortcut);
    connect(Contents, &QAction::triggered, this, &MainWindow::Contents_Click);

    About = Help->addAction(QStringLiteral("&About Corvane..."));
    About->setObjectName(QStringLiteral("About"));
    connect(About, &QAction::triggered, this, &MainWindow::About_Click);
}

void MainWindow::Form_Load()
{
    File1->setPattern(browse::picturePattern());
    MAX_IMAGES = 100;
}

void MainWindow::Cmd_Exit_Click()
{
    close();
}

void MainWindow::Exit_Click()
{
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Ends the program at once, whatever other window (help viewer, about box) is still around.
    event->accept();
    QCoreApplication::quit();
}
