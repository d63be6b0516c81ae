#pragma once

// A real window on a sandbox folder of pictures, with scripted boxes and save dialog, for the
// tests of the write command.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "app/mainwindow.h"
#include "browse/widgets/filelist.h"
#include "browse/widgets/folderlist.h"
#include "browse/widgets/drivelist.h"
#include "browse/core/reader.h"
#include "picture/pixels/surface.h"
#include "tests/support/scriptedprompts.h"
#include "tests/support/testsupport.h"

class CommandFixture
{
public:
    QTemporaryDir sandbox;
    std::unique_ptr<MainWindow> window;
    ScriptedPrompts *prompts = nullptr;

    QString dir() const { return QDir(sandbox.path()).canonicalPath(); }
    QString file(const QString &name) const { return QDir(dir()).filePath(name); }

    // Colour of picture i: distinct for every i below 1000.
    static QColor colourOf(int i) { return QColor::fromRgb(qRgb((i * 37) % 256, (i * 91 + 40) % 256, 255 - (i * 13) % 256)); }

    void open()
    {
        browse::setReadWait(std::chrono::hours(1)); // every list filled before it is looked at
        window = std::make_unique<MainWindow>();
        auto p = std::make_unique<ScriptedPrompts>();
        prompts = p.get();
        window->setPrompts(std::move(p));
        window->show();
        QVERIFY(window->Dir1->setPath(window->Drive1->rootPath(), dir()));
    }

    // Writes count solid pictures p000.bmp ... of the given size.
    void makePictures(int count, QSize size = {32, 32})
    {
        for (int i = 0; i < count; ++i)
            QVERIFY(testsupport::solid(size.width(), size.height(), colourOf(i))
                        .save(file(QStringLiteral("p%1.bmp").arg(i, 3, 10, QLatin1Char('0'))), "BMP"));
        window->File1->refresh();
    }

    void selectRows(const QList<int> &rows)
    {
        for (int row : rows)
            window->File1->select(row);
    }

    void selectFirst(int count)
    {
        for (int i = 0; i < count; ++i)
            window->File1->select(i);
    }

    // Runs the command with the field text; the dialog answers with path (empty: cancel).
    void write(const QString &field, const QString &path = {})
    {
        window->numhFrames->setText(field);
        prompts->answers.clear();
        if (!path.isEmpty())
            prompts->answers.append({path, QFileInfo(path).fileName()});
        window->Cmd_Write_File_Click();
    }

    QSize stripSize() const { return window->stripSize(); }
};
