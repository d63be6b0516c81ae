#pragma once

#include <QString>

class QWidget;

// The one seam through which the window asks the user anything modal: message boxes and the
// save dialog. The program uses the real boxes; tests put a scripted one in its place.
class Prompts
{
public:
    virtual ~Prompts() = default;

    // A modal box titled "Corvane" with text, an OK button only and no icon.
    virtual void message(QWidget *parent, const QString &text);

    struct SaveChoice {
        QString path;  // empty when cancelled
        QString title; // the file-name part of path
    };
    // The save dialog for the strip bitmap, starting in folder. It returns only a path whose
    // folder exists.
    virtual SaveChoice saveBitmap(QWidget *parent, const QString &folder);

    // The save dialog's own question before an existing file is replaced, in its words, for a
    // file it did not ask about; true for Yes.
    virtual bool confirmReplace(QWidget *parent, const QString &path);
};
