#pragma once

#include <QListView>
#include <QStringList>

class QStringListModel;

namespace browse {

// The file list: the picture files of one folder through the pattern, with extended multiple
// selection. Positions and the count are plain ints: folders may hold more than 32,767 pictures.
class FileList : public QListView
{
    Q_OBJECT
public:
    explicit FileList(QWidget *parent = nullptr);

    // The folder as other code reads it: "/" keeps its separator, no other folder has one.
    QString path() const { return m_path; }
    // Lists folder anew: nothing selected, no current item.
    void setPath(const QString &folder);
    QString pattern() const { return m_pattern; }
    void setPattern(const QString &pattern);
    // Reads the folder again through the pattern.
    void refresh();

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

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QStringListModel *m_model;
    QString m_path;
    QString m_pattern;
};

} // namespace browse
