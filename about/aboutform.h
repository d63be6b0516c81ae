#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The about box: title, version and two pictures on black. "Ok" only hides it, so the next
// showing reuses it; the frame's close button discards it.
class AboutForm : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kWidth = 353;
    static constexpr int kHeight = 264;

    // mainWindow is the window the box is centred over, takes its icon from, and returns to.
    explicit AboutForm(QWidget *mainWindow);

    // Shows the box application-modal, centred over the main window; returns at once.
    void showModal();

    QLabel *Picture1 = nullptr;
    QLabel *Picture2 = nullptr;
    QLabel *title = nullptr;
    QPushButton *aboutOK = nullptr;

public slots:
    void aboutOK_Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *m_mainWindow;
};
