#include "browse/widgets/filelist.h"

#include <QKeyEvent>
#include <QStringListModel>

#include "picture/base/nativepath.h"

namespace browse {

namespace {

// The names as they are kept, shown as well as their text allows.
class NameModel : public QStringListModel
{
public:
    using QStringListModel::QStringListModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        const QVariant value = QStringListModel::data(index, role == Qt::DisplayRole ? Qt::EditRole : role);
        return role == Qt::DisplayRole ? QVariant(picture::displayPath(value.toString())) : value;
    }
};

} // namespace

FileList::FileList(QWidget *parent)
    : QListView(parent)
    , m_model(new NameModel(this))
{
    setModel(m_model);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true); // keeps tens of thousands of names quick to lay out
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(this, &QAbstractItemView::clicked, this, &FileList::itemClicked);
}

void FileList::setPath(const QString &folder)
{
    m_wanted = listPath(folder);
    refresh();
}

void FileList::setPattern(const QString &pattern)
{
    m_pattern = pattern;
    refresh();
}

void FileList::refresh()
{
    // Until the load step has set the pattern there is nothing to match against.
    if (m_pattern.isEmpty() || m_wanted.isEmpty()) {
        applyListing(m_wanted, Listing{});
        return;
    }
    const std::optional<Listing> listing = m_reader.read(
        [reader = m_listReader, folder = m_wanted, pattern = m_pattern] { return reader(folder, pattern); },
        [this, folder = m_wanted](const Listing &late) { applyListing(folder, late); });
    if (listing)
        applyListing(m_wanted, *listing);
    else
        setCursor(Qt::WaitCursor);
}

void FileList::applyListing(const QString &folder, const Listing &listing)
{
    unsetCursor();
    m_path = folder;
    m_model->setStringList(listing.ok ? listing.names : QStringList());
    selectionModel()->clear();
    emit listed();
}

int FileList::count() const
{
    return m_model->rowCount();
}

QString FileList::name(int position) const
{
    return m_model->index(position).data(Qt::EditRole).toString();
}

bool FileList::isSelected(int position) const
{
    return selectionModel()->isRowSelected(position, QModelIndex());
}

int FileList::currentPosition() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

QStringList FileList::names() const
{
    return m_model->stringList();
}

void FileList::select(int position, bool on)
{
    selectionModel()->select(m_model->index(position),
                             on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

void FileList::keyPressEvent(QKeyEvent *event)
{
    // Qt gives the view a current item when it takes the focus; only a move made with the
    // keyboard counts as a click.
    const QModelIndex before = currentIndex();
    QListView::keyPressEvent(event);
    const QModelIndex after = currentIndex();
    if (after.isValid() && after != before)
        emit itemClicked();
}

} // namespace browse
