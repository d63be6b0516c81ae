#pragma once

#include <QListView>
#include <QStringList>

#include <functional>

#include "browse/core/folders.h"
#include "browse/core/reader.h"

class QStringListModel;

namespace browse {

// The file list: the picture files of one folder through the pattern, with extended multiple
// selection. Positions and the count are plain ints: folders may hold more than 32,767 pictures.
class FileList : public QListView
{
    Q_OBJECT
public:
    explicit FileList(QWidget *parent = nullptr);

    using ListReader = std::function<Listing(const QString &folder, const QString &pattern)>;

    // The folder listed, as other code reads it: "/" keeps its separator, no other folder has
    // one. Names and paths keep their bytes (see picture::fromNativePath()); the list shows them
    // through picture::displayPath().
    QString path() const { return m_path; }
    // Lists folder anew: nothing selected, no current item. A reading not done within a short
    // wait goes on while the window does; until its result comes the list keeps the folder and
    // the items it had (isReading()), and a newer request drops it.
    void setPath(const QString &folder);
    // The names listed: ";"-separated wildcards, "*" any run of characters, case ignored. Until
    // one is set the list stays empty.
    QString pattern() const { return m_pattern; }
    void setPattern(const QString &pattern);
    // Reads the folder again through the pattern, as setPath() does.
    void refresh();
    bool isReading() const { return m_reader.isReading(); }

    // Tests stand in for a slow or dead mount with this.
    void setListReader(ListReader reader) { m_listReader = std::move(reader); }

    int count() const;
    QString name(int position) const;
    bool isSelected(int position) const;
    int currentPosition() const; // -1 when there is none
    QStringList names() const;

    // Selection helpers for keyboard-free callers (tests, scripts).
    void select(int position, bool on = true);

signals:
    // A mouse click on an item, or the keyboard moving the current item.
    void itemClicked();
    // A folder's items have been put in the list.
    void listed();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void applyListing(const QString &folder, const Listing &listing);

    QStringListModel *m_model;
    QString m_path;
    QString m_wanted; // the folder asked for, listed or not yet
    QString m_pattern;
    ListReader m_listReader = [](const QString &folder, const QString &pattern) { return listPictures(folder, pattern); };
    Reader<Listing> m_reader{this};
};

} // namespace browse
