#include "EntryModel.h"

#include "Windows1252.h"

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
    m_keyUse.clear();
    m_freeKeyHint = 1;
    for (const Entry& e : m_entries)
        useKey(e.keyNumber());
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
