#include "EntryModel.h"

#include "Windows1252.h"

#include <algorithm>
#include <array>

namespace {
const std::array<QString, EntryModel::ColumnCount> kHeaders = {
    QStringLiteral("Page Title"), QStringLiteral("Username"), QStringLiteral("Password"),
    QStringLiteral("URL Address")};
}

EntryModel::EntryModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int EntryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int EntryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EntryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() >= rowCount() ||
        role != Qt::DisplayRole)
        return {};
    const Entry& e = entry(index.row());
    switch (index.column()) {
    case TitleColumn:
        return Windows1252::toUnicode(e.title());
    case UserNameColumn:
        return m_userNamesHidden ? kMask : Windows1252::toUnicode(e.userName());
    case PasswordColumn:
        return e.hasPassword() ? kMask : QString();
    case UrlColumn:
        return Windows1252::toUnicode(e.url());
    }
    return {};
}

QVariant EntryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return kHeaders[std::size_t(section)];
}

void EntryModel::setEntries(std::vector<Entry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    // Nothing moves when the loader made the room already.
    m_entries.reserve(roomFor(m_entries.size()));
    m_keyUse.clear();
    m_freeKeyHint = 1;
    for (const Entry& e : m_entries)
        useKey(e.keyNumber());
    // Found now, while the list is read, rather than by the first Add after it.
    GetLowLV2KeyNum();
    endResetModel();
}

void EntryModel::appendEntry(Entry entry)
{
    insertEntry(rowCount(), std::move(entry));
}

void EntryModel::insertEntry(int row, Entry entry)
{
    Q_ASSERT(row >= 0 && row <= rowCount());
    beginInsertRows({}, row, row);
    useKey(entry.keyNumber());
    m_entries.insert(m_entries.begin() + row, std::move(entry));
    endInsertRows();
}

void EntryModel::removeEntry(int row)
{
    Q_ASSERT(row >= 0 && row < rowCount());
    beginRemoveRows({}, row, row);
    releaseKey(m_entries[std::size_t(row)].keyNumber());
    m_entries.erase(m_entries.begin() + row);
    endRemoveRows();
}

void EntryModel::moveEntry(int from, int to)
{
    Q_ASSERT(from >= 0 && from < rowCount() && to >= 0 && to < rowCount());
    if (from == to)
        return;
    // The view's notion of a move puts the row before destinationChild.
    beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
    const auto first = m_entries.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
    endMoveRows();
}

void EntryModel::removeEntries(const std::vector<int>& rows)
{
    std::vector<std::pair<int, int>> runs; // first and last row of each run of neighbours
    for (int row : rows) {
        Q_ASSERT(row >= 0 && row < rowCount());
        if (!runs.empty() && runs.back().second == row - 1)
            runs.back().second = row;
        else
            runs.emplace_back(row, row);
    }
    for (int row : rows)
        releaseKey(m_entries[std::size_t(row)].keyNumber());

    // Each removal moves the rows after it; past a few runs one pass over the list is cheaper
    // than a move per run, and the views are told of the whole change at once.
    constexpr std::size_t kRunsRemovedOneByOne = 16;
    if (runs.size() > kRunsRemovedOneByOne) {
        beginResetModel();
        std::vector<bool> removed(m_entries.size(), false);
        for (int row : rows)
            removed[std::size_t(row)] = true;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            if (!removed[i])
                m_entries[kept++] = std::move(m_entries[i]);
        }
        m_entries.resize(kept);
        endResetModel();
        return;
    }
    // From the last run to the first, so that the rows still to remove keep their numbers.
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        beginRemoveRows({}, run->first, run->second);
        m_entries.erase(m_entries.begin() + run->first, m_entries.begin() + run->second + 1);
        endRemoveRows();
    }
}

void EntryModel::setUserNamesHidden(bool hidden)
{
    if (hidden == m_userNamesHidden)
        return;
    m_userNamesHidden = hidden;
    if (!m_entries.empty())
        Q_EMIT dataChanged(index(0, UserNameColumn), index(rowCount() - 1, UserNameColumn));
}

int EntryModel::GetLowLV2KeyNum() const
{
    while (std::size_t(m_freeKeyHint) < m_keyUse.size() && m_keyUse[std::size_t(m_freeKeyHint)] > 0)
        ++m_freeKeyHint;
    return m_freeKeyHint;
}

void EntryModel::useKey(int number)
{
    if (number < 1)
        return;
    if (std::size_t(number) >= m_keyUse.size())
        m_keyUse.resize(std::max<std::size_t>(std::size_t(number) + 1, m_keyUse.size() * 2), 0);
    ++m_keyUse[std::size_t(number)];
}

void EntryModel::releaseKey(int number)
{
    if (number < 1 || std::size_t(number) >= m_keyUse.size())
        return;
    if (--m_keyUse[std::size_t(number)] == 0 && number < m_freeKeyHint)
        m_freeKeyHint = number;
}
