#pragma once

#include <QSortFilterProxyModel>

class EntryModel;

// What the list shows while the find bar narrows it: the entries whose title, address or user
// name hold the find text, in file order. Row i here is not record i; map to the source.
class EntryFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit EntryFilter(EntryModel& entries, QObject* parent = nullptr);

    const QString& findText() const { return m_findText; }
    // Case-insensitive; empty shows every entry.
    void setFindText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    const EntryModel& m_entries;
    QString m_findText;
};
