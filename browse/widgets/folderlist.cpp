#include "browse/widgets/folderlist.h"

#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>
#include <QTreeWidgetItemIterator>

#include "picture/base/nativepath.h"

namespace browse {

namespace {
constexpr int kPathRole = Qt::UserRole;
}

FolderList::FolderList(QWidget *parent)
    : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setIndentation(10);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Opening is bound to the double-click itself, not to "activated", which some desktops
    // fire on a single click.
    connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item) { open(item); });
}

bool FolderList::setPath(const QString &root, const QString &folder, QString *error)
{
    const std::optional<FolderChain> chain = m_reader.read(
        [reader = m_chainReader, root, folder] { return reader(root, folder); },
        [this, root](const FolderChain &late) { applyChain(root, late, nullptr); });
    if (!chain) {
        setCursor(Qt::WaitCursor);
        return false;
    }
    return applyChain(root, *chain, error);
}

bool FolderList::applyChain(const QString &root, const FolderChain &chain, QString *error)
{
    unsetCursor();
    if (!chain.ok) {
        if (error)
            *error = chain.message;
        emit readingEnded(false);
        return false;
    }

    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    setUpdatesEnabled(false);
    clear();
    QTreeWidgetItem *parentItem = nullptr;
    for (const QString &ancestor : chain.ancestors) {
        const QString name = picture::displayPath(parentItem ? QDir(ancestor).dirName() : ancestor);
        auto *item = parentItem ? new QTreeWidgetItem(parentItem, {name}) : new QTreeWidgetItem(this, {name});
        item->setIcon(0, openIcon);
        item->setData(0, kPathRole, ancestor);
        item->setExpanded(true);
        parentItem = item;
    }
    const QString base = chain.ancestors.constLast();
    for (const QString &name : chain.subfolders) {
        auto *item = new QTreeWidgetItem(parentItem, {picture::displayPath(name)});
        item->setIcon(0, closedIcon);
        item->setData(0, kPathRole, picture::pathIn(base, name));
    }
    expandAll();
    setCurrentItem(parentItem);
    setUpdatesEnabled(true);

    const bool changed = m_path != chain.ancestors.constLast() || m_root != root;
    m_root = root;
    m_path = chain.ancestors.constLast();
    if (changed)
        emit pathChanged();
    emit readingEnded(true);
    return true;
}

void FolderList::drawBranches(QPainter *, const QRect &, const QModelIndex &) const
{
    // Every level is always open: no expand arrows, only the indentation.
}

void FolderList::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
        open(currentItem());
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void FolderList::open(QTreeWidgetItem *item)
{
    if (!item)
        return;
    // When nothing up to the root can be read the list stays where it was, usable.
    if (setPath(m_root, item->data(0, kPathRole).toString()) || isReading())
        return;
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        if ((*it)->data(0, kPathRole).toString() == m_path) {
            setCurrentItem(*it);
            break;
        }
    }
}

} // namespace browse
