#pragma once

#include <QAbstractProxyModel>
#include <QPointer>

#include <vector>

class EntryModel;

// What the list shows while the find bar narrows it: the entries whose title, address or user
// name hold the find text, in file order. Row i here is not record i; map to the source. With
// no find text it passes the model through row for row, keeping nothing per row: a list of a
// hundred thousand entries loads, grows and shrinks without a table of rows kept beside it.
class EntryFilter : public QAbstractProxyModel {
    Q_OBJECT
public:
    explicit EntryFilter(EntryModel& entries, QObject* parent = nullptr);

    const QString& findText() const { return m_findText; }
    // Case-insensitive; empty shows every entry.
    void setFindText(const QString& text);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    // The model's own: the columns are the same here, and a list that shows no row has them too.
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;

private:
    bool filtering() const { return !m_findText.isEmpty(); }
    bool accepts(int sourceRow) const;
    // The rows shown while filtering, from the first row at or after sourceRow.
    std::vector<int>::iterator shownFrom(int sourceRow);
    void refilter();
    void connectToSource();

    // Null once the model is gone: a window's model may go before the view that asks this.
    QPointer<EntryModel> m_entries;
    QString m_findText;
    // While filtering: the model's rows shown, ascending.
    std::vector<int> m_shown;
    // Rows the model is about to remove while filtering: those shown, as rows here.
    std::pair<int, int> m_removing{-1, -1};
};
