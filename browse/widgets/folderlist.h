#pragma once

#include <QTreeWidget>

#include <functional>

#include "browse/core/folders.h"
#include "browse/core/reader.h"

namespace browse {

// The folder list: the path from the drive's root down to the current folder, each level
// indented, then the current folder's subfolders. A double-click or Enter opens a folder; a
// single click only highlights.
class FolderList : public QTreeWidget
{
    Q_OBJECT
public:
    using ChainReader = std::function<FolderChain(const QString &root, const QString &folder)>;

    explicit FolderList(QWidget *parent = nullptr);

    // The folder shown, its name's bytes kept (see picture::fromNativePath()).
    QString path() const { return m_path; }
    QString root() const { return m_root; }

    // Shows folder on the drive rooted at root or, when it cannot be read, the nearest folder
    // above it that can. True when the list shows it on return. False when nothing up to the
    // root can be read (the list stays as it was, the cause in *error) or when the reading is
    // still under way (isReading()): its result is shown when it comes, unless another folder
    // has been asked for since.
    bool setPath(const QString &root, const QString &folder, QString *error = nullptr);
    bool isReading() const { return m_reader.isReading(); }

    // Tests stand in for a slow or dead mount with this.
    void setChainReader(ChainReader reader) { m_chainReader = std::move(reader); }

signals:
    void pathChanged();
    // A reading has ended, shown or not (a reading replaced by a newer one never ends).
    void readingEnded(bool shown);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const override;

private:
    bool applyChain(const QString &root, const FolderChain &chain, QString *error);
    void open(QTreeWidgetItem *item);

    QString m_root;
    QString m_path;
    ChainReader m_chainReader = nearestFolderChain;
    Reader<FolderChain> m_reader{this};
};

} // namespace browse
