#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QThreadPool>

#include <array>
#include <memory>

#include "app/prompts.h"
#include "strip/frames.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace picture {
class PictureHolder;
class Surface;
}
namespace browse {
class DriveList;
class FolderList;
class FileList;
}
class AboutForm;
class HelpDialog;

// The program's one main window. Its elements, handlers and window variables carry the names
// the rest of the program (and its documentation) uses for them.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int kFrameHolders = strip::kFrameHolders;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Tests replace the real boxes and dialogs with scripted ones.
    void setPrompts(std::unique_ptr<Prompts> prompts);
    Prompts &prompts() { return *m_prompts; }

    // Window variables, 16-bit as the strip rules expect.
    qint16 MAX_IMAGES = 0;
    qint16 bmp_width = 0;
    qint16 bmp_height = 0;

    // Visible elements.
    browse::DriveList *Drive1 = nullptr;
    browse::FolderList *Dir1 = nullptr;
    browse::FileList *File1 = nullptr;
    QLineEdit *numhFrames = nullptr;
    QPushButton *Cmd_Write_File = nullptr;
    QPushButton *Cmd_Exit = nullptr;
    QCheckBox *chkWriteTextFile = nullptr;
    QLabel *lblpreview = nullptr;
    QLabel *Open = nullptr;
    QLabel *lblnumframes = nullptr;

    // Menu bar.
    QAction *Exit = nullptr;
    QMenu *Help = nullptr;
    QAction *Contents = nullptr;
    QAction *About = nullptr;

    // Hidden surfaces: never shown, they hold the frames and the strip.
    std::array<picture::PictureHolder *, kFrameHolders> theFrame{};
    picture::Surface *Image_strip = nullptr;
    picture::Surface *clearimage = nullptr;

    // The size of the strip the last command laid out (it is written band by band, never held).
    QSize stripSize() const { return m_stripSize; }

    // The help component: it hands the help file and the request to the help viewer.
    HelpDialog *CommonDialog1 = nullptr;

    // The about box while it exists (created on first showing, discarded by its close button).
    AboutForm *aboutForm() const;

    // The full paths of the selected entries in list order, at most MAX_IMAGES of them;
    // *overLimit tells whether more were selected.
    QStringList selectedPaths(bool *overLimit) const;

    // The system's menu-bar colour: window, labels and strip background.
    static QColor menuBarColor();
    static QColor menuTextColor();

public slots:
    void Form_Load();
    void Drive1_Change();
    void Dir1_Change();
    void File1_Click();
    void Cmd_Write_File_Click();
    void Cmd_Exit_Click();
    void Exit_Click();
    void Contents_Click();
    void About_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildElements();
    void buildMenus();
    void buildBrowser();     // browsehandlers.cpp
    void buildHelp();        // helpabout.cpp
    void closeCommand();     // writecommand.cpp: "10"-less closing shared by every run
    void writeImageStrip();  // writecommand.cpp: the command itself, inside its handler's guard

    void showPreview(quint64 ticket, const QImage &image, const QString &refusal, qreal ratio);

    std::unique_ptr<Prompts> m_prompts;
    QPointer<AboutForm> m_aboutForm;
    QSize m_stripSize;
    // The preview is decoded on a thread of its own, one picture at a time: a click while one
    // is decoding replaces any that waits, and only the latest click's picture is shown.
    QThreadPool m_previewPool;
    quint64 m_previewAsked = 0;
    quint64 m_previewShown = 0;

public:
    // No preview is being decoded: the latest click's picture, or its refusal, is shown.
    bool previewSettled() const { return m_previewShown == m_previewAsked; }
};
