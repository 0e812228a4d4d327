#pragma once

#include "Entry.h"

#include <QAbstractTableModel>

#include <algorithm>
#include <vector>

// The list of entries: row i is record i of the link file.
class EntryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TitleColumn, UserNameColumn, PasswordColumn, UrlColumn, ColumnCount };
    static inline const QString kMask = QStringLiteral("ooooooo");

    explicit EntryModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    const std::vector<Entry>& entries() const { return m_entries; }
    const Entry& entry(int row) const { return m_entries.at(std::size_t(row)); }

    // Room for the entries added after a load of this many: a full vector would copy every entry
    // to grow by one.
    static std::size_t roomFor(std::size_t entries)
    {
        return entries + std::max<std::size_t>(entries / 8, 16);
    }
    void setEntries(std::vector<Entry> entries);
    void clear() { setEntries({}); }
    void appendEntry(Entry entry);
    void insertEntry(int row, Entry entry);
    void removeEntry(int row);
    // Entry from goes to position to; those between shift by one.
    void moveEntry(int from, int to);
    // Removes these rows (ascending, no repeats), each run of neighbours at once.
    void removeEntries(const std::vector<int>& rows);

    bool userNamesHidden() const { return m_userNamesHidden; }
    void setUserNamesHidden(bool hidden);

    // The lowest key number from 1 upward that no entry carries.
    int GetLowLV2KeyNum() const;

private:
    void useKey(int number);
    void releaseKey(int number);

    std::vector<Entry> m_entries;
    bool m_userNamesHidden = false;
    // How many entries carry each key number, and where the search for a free one may start:
    // no number below the hint is free.
    std::vector<int> m_keyUse;
    mutable int m_freeKeyHint = 1;
};
