#pragma once

#include <QPersistentModelIndex>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>
#include <QTableView>

#include <vector>

class QHeaderView;

// The entry list: one row an entry, the columns under a header, whole rows selected. It looks
// and behaves as a tree view without branches does, but keeps no item per row: a tree view lays
// out every row again for each row added, which a list of many thousand entries feels.
class EntryListView : public QTableView {
    Q_OBJECT
public:
    explicit EntryListView(QWidget* parent = nullptr);

    QHeaderView* header() const { return horizontalHeader(); }
    void setModel(QAbstractItemModel* model) override;
    void doItemsLayout() override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    void paintEvent(QPaintEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;

private:
    void updateRowHeight();
    void keepTopRowAtTheTop();
    void drawRow(QPainter& painter, const QStyleOptionViewItem& option, int row, const QRect& area,
                 const std::vector<QStyleOptionViewItem::ViewItemPosition>& positions) const;

    QPersistentModelIndex m_hover;
    // One row of text, measured for the height of rows that have not come yet.
    QStandardItemModel m_textRow;
};
