#include "EntryFilter.h"

#include "store/EntryModel.h"
#include "store/Windows1252.h"

#include <algorithm>

EntryFilter::EntryFilter(EntryModel& entries, QObject* parent)
    : QAbstractProxyModel(parent)
    , m_entries(&entries)
{
    QAbstractProxyModel::setSourceModel(&entries);
    connectToSource();
}

void EntryFilter::setFindText(const QString& text)
{
    if (text == m_findText)
        return;
    // The view keeps nothing of the old rows; the window chooses the selected entry anew.
    beginResetModel();
    m_findText = text;
    refilter();
    endResetModel();
}

bool EntryFilter::accepts(int sourceRow) const
{
    const Entry& e = m_entries->entry(sourceRow);
    const auto holds = [this](QByteArrayView field) {
        return Windows1252::toUnicode(field).contains(m_findText, Qt::CaseInsensitive);
    };
    // A hidden user name stays hidden: finding by it would tell it letter by letter.
    return holds(e.title()) || holds(e.url()) ||
           (!m_entries->userNamesHidden() && holds(e.userName()));
}

std::vector<int>::iterator EntryFilter::shownFrom(int sourceRow)
{
    return std::lower_bound(m_shown.begin(), m_shown.end(), sourceRow);
}

void EntryFilter::refilter()
{
    m_shown.clear();
    if (!filtering() || !m_entries)
        return;
    for (int row = 0; row < m_entries->rowCount(); ++row) {
        if (accepts(row))
            m_shown.push_back(row);
    }
}

QModelIndex EntryFilter::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex EntryFilter::parent(const QModelIndex&) const
{
    return {};
}

int EntryFilter::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_entries)
        return 0;
    return filtering() ? int(m_shown.size()) : m_entries->rowCount();
}

int EntryFilter::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_entries ? 0 : m_entries->columnCount();
}

bool EntryFilter::hasChildren(const QModelIndex& parent) const
{
    return !parent.isValid() && rowCount() > 0;
}

QVariant EntryFilter::headerData(int section, Qt::Orientation orientation, int role) const
{
    return m_entries ? m_entries->headerData(section, orientation, role) : QVariant();
}

QModelIndex EntryFilter::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!proxyIndex.isValid() || proxyIndex.model() != this || !m_entries)
        return {};
    const int row = filtering() ? m_shown[std::size_t(proxyIndex.row())] : proxyIndex.row();
    return m_entries->index(row, proxyIndex.column());
}

QModelIndex EntryFilter::mapFromSource(const QModelIndex& sourceIndex) const
{
    if (!sourceIndex.isValid() || !m_entries || sourceIndex.model() != m_entries)
        return {};
    int row = sourceIndex.row();
    if (filtering()) {
        const auto at = std::lower_bound(m_shown.begin(), m_shown.end(), row);
        if (at == m_shown.end() || *at != row)
            return {};
        row = int(at - m_shown.begin());
    }
    return createIndex(row, sourceIndex.column());
}

void EntryFilter::connectToSource()
{
    EntryModel* source = m_entries;
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(source, &QAbstractItemModel::modelReset, this, [this] {
        refilter();
        endResetModel();
    });
    // Unfiltered, the rows here are the model's: every change passes through as it is.
    connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex&, int first, int last) {
                if (!filtering())
                    beginInsertRows({}, first, last);
            });
    connect(source, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                if (!filtering()) {
                    endInsertRows();
                    return;
                }
                // The rows after the new ones move down; those of them shown stay where they are
                // here, and the new ones shown come in between.
                const auto at = shownFrom(first);
                for (auto later = at; later != m_shown.end(); ++later)
                    *later += last - first + 1;
                std::vector<int> added;
                for (int row = first; row <= last; ++row) {
                    if (accepts(row))
                        added.push_back(row);
                }
                if (added.empty())
                    return;
                const int position = int(at - m_shown.begin());
                beginInsertRows({}, position, position + int(added.size()) - 1);
                m_shown.insert(shownFrom(first), added.begin(), added.end());
                endInsertRows();
            });
    connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                if (!filtering()) {
                    beginRemoveRows({}, first, last);
                    return;
                }
                const int from = int(shownFrom(first) - m_shown.begin());
                const int to = int(shownFrom(last + 1) - m_shown.begin());
                m_removing = {from, to - 1};
                if (from < to)
                    beginRemoveRows({}, from, to - 1);
            });
    connect(source, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                if (!filtering()) {
                    endRemoveRows();
                    return;
                }
                const auto [from, to] = m_removing;
                m_removing = {-1, -1};
                const auto gone = m_shown.begin() + from;
                const auto after = m_shown.erase(gone, gone + (to - from + 1));
                for (auto later = after; later != m_shown.end(); ++later)
                    *later -= last - first + 1;
                if (from <= to)
                    endRemoveRows();
            });
    // A move while filtering may change which rows are shown where: the view starts afresh.
    connect(source, &QAbstractItemModel::rowsAboutToBeMoved, this,
            [this](const QModelIndex&, int first, int last, const QModelIndex&, int destination) {
                if (!filtering())
                    beginMoveRows({}, first, last, {}, destination);
                else
                    beginResetModel();
            });
    connect(source, &QAbstractItemModel::rowsMoved, this, [this] {
        if (!filtering()) {
            endMoveRows();
            return;
        }
        refilter();
        endResetModel();
    });
    connect(source, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight,
                   const QList<int>& roles) {
                if (!filtering()) {
                    Q_EMIT dataChanged(mapFromSource(topLeft), mapFromSource(bottomRight), roles);
                    return;
                }
                // A change may show a row or hide one: then the rows shown are found anew.
                const auto from = shownFrom(topLeft.row());
                const auto to = shownFrom(bottomRight.row() + 1);
                std::vector<int> shown;
                for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
                    if (accepts(row))
                        shown.push_back(row);
                }
                if (!std::equal(from, to, shown.begin(), shown.end())) {
                    beginResetModel();
                    refilter();
                    endResetModel();
                } else if (from != to) {
                    Q_EMIT dataChanged(index(int(from - m_shown.begin()), topLeft.column()),
                                       index(int(to - m_shown.begin()) - 1, bottomRight.column()),
                                       roles);
                }
            });
    connect(source, &QAbstractItemModel::headerDataChanged, this, &EntryFilter::headerDataChanged);
    connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this,
            [this] { beginResetModel(); });
    connect(source, &QAbstractItemModel::layoutChanged, this, [this] {
        refilter();
        endResetModel();
    });
}
