#pragma once

#include <QCursor>
#include <QStringList>
#include <QWidget>

#include <functional>

#include "app/prompts.h"

// Stands in for the real message boxes and save dialog: records every message with the
// window's pointer at that moment, and answers the save dialog from a script.
class ScriptedPrompts : public Prompts
{
public:
    struct Shown {
        QString text;
        Qt::CursorShape cursor;
    };

    void message(QWidget *parent, const QString &text) override
    {
        shown.append({text, parent ? parent->cursor().shape() : Qt::ArrowCursor});
        if (onMessage)
            onMessage(text);
    }

    SaveChoice saveBitmap(QWidget *parent, const QString &folder) override
    {
        dialogFolders.append(folder);
        if (onSave)
            onSave();
        dialogCursors.append(parent ? parent->cursor().shape() : Qt::ArrowCursor);
        if (answers.isEmpty())
            return {};
        return answers.takeFirst();
    }

    bool confirmReplace(QWidget *, const QString &path) override
    {
        replaceQuestions.append(path);
        return replaceAnswer;
    }

    QStringList texts() const
    {
        QStringList result;
        for (const Shown &s : shown)
            result.append(s.text);
        return result;
    }

    QList<Shown> shown;
    QList<SaveChoice> answers;            // next answers of the save dialog; empty = cancel
    QStringList dialogFolders;            // the folder each save dialog started in
    QList<Qt::CursorShape> dialogCursors;
    std::function<void(const QString &)> onMessage;
    std::function<void()> onSave;         // runs as the save dialog would open
    QStringList replaceQuestions;         // the files asked about before being replaced
    bool replaceAnswer = true;
};
