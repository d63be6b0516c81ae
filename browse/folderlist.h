#pragma once

#include <QTreeWidget>

namespace browse {

// The folder list: the path from the drive's root down to the current folder, each level
// indented, then the current folder's subfolders. A double-click or Enter opens a folder; a
// single click only highlights.
class FolderList : public QTreeWidget
{
    Q_OBJECT
public:
    explicit FolderList(QWidget *parent = nullptr);

    QString path() const { return m_path; }
    QString root() const { return m_root; }

    // Shows folder on the drive rooted at root. When the folder cannot be read the list stays
    // as it was and false is returned with the cause in *error.
    bool setPath(const QString &root, const QString &folder, QString *error = nullptr);

signals:
    void pathChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const override;

private:
    void open(QTreeWidgetItem *item);

    QString m_root;
    QString m_path;
};

} // namespace browse
