#include "EntryListView.h"

#include <QHeaderView>
#include <QHoverEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <vector>

namespace {

// Where each shown column stands in the row, for styles that round a selection's ends.
std::vector<QStyleOptionViewItem::ViewItemPosition> cellPositions(const QHeaderView& columns)
{
    const int count = columns.count();
    std::vector<int> shown;
    for (int visual = 0; visual < count; ++visual) {
        if (!columns.isSectionHidden(columns.logicalIndex(visual)))
            shown.push_back(columns.logicalIndex(visual));
    }
    const int first = columns.logicalIndex(0);
    std::vector<QStyleOptionViewItem::ViewItemPosition> positions(std::size_t(count),
                                                                  QStyleOptionViewItem::Invalid);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const int column = shown[i];
        const int next = i + 1 < shown.size() ? shown[i + 1] : -1;
        const int previous = i > 0 ? shown[i - 1] : -1;
        QStyleOptionViewItem::ViewItemPosition position;
        if (count == 1 || (next == 0 && previous == -1) || (column == 0 && next == -1))
            position = QStyleOptionViewItem::OnlyOne;
        else if (column == first || (next != 0 && previous == -1))
            position = QStyleOptionViewItem::Beginning;
        else if (next == 0 || next == -1)
            position = QStyleOptionViewItem::End;
        else
            position = QStyleOptionViewItem::Middle;
        positions[std::size_t(column)] = position;
    }
    return positions;
}

} // namespace

EntryListView::EntryListView(QWidget* parent)
    : QTableView(parent)
{
    setSelectionBehavior(SelectRows);
    setHorizontalScrollMode(ScrollPerPixel);
    setShowGrid(false);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setCornerButtonEnabled(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->hide();
    // The rows are as high as the first row's items ask, however small the font.
    verticalHeader()->setMinimumSectionSize(0);
}

void EntryListView::setModel(QAbstractItemModel* model)
{
    QAbstractItemModel* old = this->model();
    if (model == old)
        return;
    const auto update = [this] {
        updateRowHeight();
    };
    // Ahead of the base class's connections, and so of the row header's: the height a reset
    // brings is set while the header still holds the rows before it, not over every new row.
    if (model)
        connect(model, &QAbstractItemModel::modelReset, this, update);
    QTableView::setModel(model);
    // The base class has let go of the old model; what still ties it to the view is ours.
    if (old)
        disconnect(old, nullptr, this, nullptr);
    if (!model)
        return;
    connect(model, &QAbstractItemModel::rowsInserted, this, update);
    connect(model, &QAbstractItemModel::rowsRemoved, this, update);
    connect(model, &QAbstractItemModel::rowsMoved, this, update);
    connect(model, &QAbstractItemModel::layoutChanged, this, update);
    connect(model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& topLeft) {
        if (topLeft.row() == 0)
            updateRowHeight();
    });
    updateRowHeight();
}

// Every row is as high as the first, so that a row's place is its number times the height.
void EntryListView::updateRowHeight()
{
    const QAbstractItemModel* entries = model();
    if (!entries)
        return;
    QModelIndex root = rootIndex();
    const int columns = entries->columnCount(root);
    if (entries->rowCount(root) == 0) {
        // A row of text stands in for the first entry: the rows of a first load then come at
        // the height they keep, and the row header is not walked row by row to change it.
        if (m_textRow.columnCount() != columns) {
            m_textRow.clear();
            QList<QStandardItem*> items;
            for (int column = 0; column < columns; ++column)
                items << new QStandardItem(QStringLiteral("Xg"));
            m_textRow.appendRow(items);
        }
        entries = &m_textRow;
        root = {};
    }
    QStyleOptionViewItem option;
    QAbstractItemView::initViewItemOption(&option);
    option.rect.setWidth(-1);
    int height = -1;
    for (int column = 0; column < columns; ++column) {
        if (isColumnHidden(column))
            continue;
        const QModelIndex index = entries->index(0, column, root);
        height = std::max(height, itemDelegateForIndex(index)->sizeHint(option, index).height());
    }
    QHeaderView* rows = verticalHeader();
    if (height < 0 || height == rows->defaultSectionSize())
        return;
    {
        // One signal a row would cost more than the new height; the view is updated once below.
        const QSignalBlocker quiet(rows);
        rows->setDefaultSectionSize(height);
    }
    updateGeometries();
    viewport()->update();
}

void EntryListView::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    keepTopRowAtTheTop();
}

void EntryListView::updateGeometries()
{
    QTableView::updateGeometries();
    keepTopRowAtTheTop();
}

// Scrolled a row at a time to the end, a tree view shows its last rows from the top down and
// leaves the room under them; a table would push the last row down to the bottom edge.
void EntryListView::keepTopRowAtTheTop()
{
    if (verticalScrollMode() != ScrollPerItem)
        return;
    QHeaderView* rows = verticalHeader();
    const int top = verticalScrollBar()->value();
    if (top < 0 || top >= rows->count())
        return;
    const int position = rows->sectionPosition(rows->logicalIndex(top));
    if (rows->offset() == position)
        return;
    rows->setOffset(position);
    viewport()->update();
}

// A new delegate, font or style comes here, as does a new model.
void EntryListView::doItemsLayout()
{
    QTableView::doItemsLayout();
    updateRowHeight();
}

QModelIndex EntryListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const QAbstractItemModel* entries = model();
    if (!entries)
        return {};
    const QModelIndex root = rootIndex();
    const int rows = entries->rowCount(root);
    const QHeaderView* columns = horizontalHeader();
    const QModelIndex current = currentIndex();
    if (!current.isValid()) {
        int visual = 0;
        while (visual < columns->count() && columns->isSectionHidden(columns->logicalIndex(visual)))
            ++visual;
        if (rows > 0 && visual < columns->count())
            return entries->index(0, columns->logicalIndex(visual), root);
        return {};
    }

    const int row = current.row();
    const auto at = [&](int to) {
        return to >= 0 && to < rows ? current.sibling(to, current.column()) : QModelIndex();
    };
    // A page is as many whole rows as the viewport holds; up rounds away from the row.
    const int height = rowHeight(row);
    const int viewportHeight = viewport()->height();
    if (isRightToLeft()) {
        if (cursorAction == MoveLeft)
            cursorAction = MoveRight;
        else if (cursorAction == MoveRight)
            cursorAction = MoveLeft;
    }
    switch (cursorAction) {
    case MoveNext:
    case MoveDown:
        return at(row + 1);
    case MovePrevious:
    case MoveUp:
        return at(row - 1);
    case MovePageUp:
        if (height <= 0)
            return at(0);
        return at(std::max(row - (viewportHeight + height - 1) / height, 0));
    case MovePageDown:
        if (height <= 0)
            return at(rows - 1);
        return at(std::min(row + viewportHeight / height, rows - 1));
    case MoveHome:
        return at(0);
    case MoveEnd:
        return at(rows - 1);
    case MoveLeft:
    case MoveRight: {
        // The row stays; the columns scroll.
        QScrollBar* bar = horizontalScrollBar();
        bar->setValue(bar->value() +
                      (cursorAction == MoveLeft ? -bar->singleStep() : bar->singleStep()));
        updateGeometries();
        viewport()->update();
        break;
    }
    }
    return current;
}

// Rows from the one under the rectangle's top to the one under its bottom; an end off the rows
// stands for the first or the last row.
void EntryListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    QAbstractItemModel* entries = model();
    if (!selectionModel() || !entries || rect.isNull())
        return;
    const bool reverse = isRightToLeft();
    const int left = std::min(rect.left(), rect.right());
    const int right = std::max(rect.left(), rect.right());
    const int top = std::min(rect.top(), rect.bottom());
    const int bottom = std::max(rect.top(), rect.bottom());
    QModelIndex topLeft = indexAt(QPoint(reverse ? right : left, top));
    QModelIndex bottomRight = indexAt(QPoint(reverse ? left : right, bottom));
    if (!topLeft.isValid() && !bottomRight.isValid()) {
        if (command & QItemSelectionModel::Clear)
            selectionModel()->clear();
        return;
    }
    const QModelIndex root = rootIndex();
    const int rows = entries->rowCount(root);
    const QHeaderView* columns = horizontalHeader();
    if (!topLeft.isValid() && rows > 0)
        topLeft = entries->index(0, 0, root);
    if (!bottomRight.isValid() && rows > 0)
        bottomRight = entries->index(rows - 1, columns->logicalIndex(columns->count() - 1), root);
    const auto enabled = [](const QModelIndex& index) {
        return index.flags().testFlag(Qt::ItemIsEnabled);
    };
    if (!enabled(topLeft) || !enabled(bottomRight))
        return;

    QItemSelection selection;
    if (topLeft.row() <= bottomRight.row()) {
        const int first = std::min(columns->visualIndex(topLeft.column()),
                                   columns->visualIndex(bottomRight.column()));
        const int last = std::max(columns->visualIndex(topLeft.column()),
                                  columns->visualIndex(bottomRight.column()));
        std::vector<int> shown;
        for (int visual = first; visual <= last; ++visual) {
            if (!columns->isSectionHidden(columns->logicalIndex(visual)))
                shown.push_back(columns->logicalIndex(visual));
        }
        std::sort(shown.begin(), shown.end());
        // One range for each run of neighbouring columns.
        for (std::size_t i = 0; i < shown.size();) {
            std::size_t end = i;
            while (end + 1 < shown.size() && shown[end + 1] == shown[end] + 1)
                ++end;
            selection.select(entries->index(topLeft.row(), shown[i], root),
                             entries->index(bottomRight.row(), shown[end], root));
            i = end + 1;
        }
    }
    selectionModel()->select(selection, command);
}

bool EntryListView::viewportEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        m_hover = indexAt(static_cast<QHoverEvent*>(event)->position().toPoint());
        break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
        m_hover = QPersistentModelIndex();
        break;
    default:
        break;
    }
    // The base class repaints the rows the pointer left and entered.
    return QTableView::viewportEvent(event);
}

void EntryListView::paintEvent(QPaintEvent* event)
{
    const QAbstractItemModel* entries = model();
    if (!entries || !itemDelegate())
        return;
    const int rows = entries->rowCount(rootIndex());
    if (rows == 0 || horizontalHeader()->count() == 0)
        return;
    const QRect area = event->region().boundingRect();
    const int first = rowAt(area.top());
    if (first < 0)
        return;
    int last = rowAt(area.bottom());
    if (last < 0)
        last = rows - 1;

    QStyleOptionViewItem option;
    QAbstractItemView::initViewItemOption(&option);
    const QStyle::State state = option.state;
    const std::vector<QStyleOptionViewItem::ViewItemPosition> positions =
        cellPositions(*horizontalHeader());
    QPainter painter(viewport());
    for (int row = first; row <= last; ++row) {
        option.rect = QRect(0, rowViewportPosition(row), viewport()->width(), rowHeight(row));
        option.state = state | (row + 1 < rows ? QStyle::State_Sibling : QStyle::State_None);
        drawRow(painter, option, row, area, positions);
    }
}

// A row as a tree view draws one: the selection and the pointer cover the whole row, and the
// focus frame goes round it.
void EntryListView::drawRow(
    QPainter& painter, const QStyleOptionViewItem& option, int row, const QRect& area,
    const std::vector<QStyleOptionViewItem::ViewItemPosition>& positions) const
{
    const QAbstractItemModel* entries = model();
    const QModelIndex root = rootIndex();
    const QHeaderView* columns = horizontalHeader();
    const QStyle::State state = option.state;
    const bool hovered = m_hover.isValid() && m_hover.row() == row && m_hover.parent() == root;

    QStyleOptionViewItem cell = option;
    cell.showDecorationSelected = true;
    for (int visual = 0; visual < columns->count(); ++visual) {
        const int column = columns->logicalIndex(visual);
        if (columns->isSectionHidden(column))
            continue;
        const QRect rect(columnViewportPosition(column), option.rect.y(), columnWidth(column),
                         option.rect.height());
        const QModelIndex index = entries->index(row, column, root);
        if (!rect.intersects(area) || !index.isValid())
            continue;
        cell.state = state;
        cell.viewItemPosition = positions[std::size_t(column)];
        if (selectionModel()->isSelected(index))
            cell.state |= QStyle::State_Selected;
        cell.state.setFlag(QStyle::State_MouseOver, hovered);
        if (state & QStyle::State_Enabled) {
            QPalette::ColorGroup group = QPalette::Inactive;
            if (!index.flags().testFlag(Qt::ItemIsEnabled)) {
                cell.state &= ~QStyle::State_Enabled;
                group = QPalette::Disabled;
            } else if (cell.state & QStyle::State_Active) {
                group = QPalette::Active;
            }
            cell.palette.setCurrentColorGroup(group);
        }
        // The style paints the row's own background; the delegate the selection and the item.
        const QStyle::State withSelection = cell.state;
        cell.state &= ~QStyle::State_Selected;
        cell.rect = rect;
        style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &cell, &painter, this);
        cell.state = withSelection;
        itemDelegateForIndex(index)->paint(&painter, cell, index);
    }

    const QModelIndex current = currentIndex();
    if (!hasFocus() || !current.isValid() || current.row() != row || current.parent() != root)
        return;
    QStyleOptionFocusRect frame;
    frame.QStyleOption::operator=(option);
    frame.state |= QStyle::State_KeyboardFocusChange;
    const QPalette::ColorGroup group =
        (option.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    frame.backgroundColor = option.palette.color(
        group, selectionModel()->isSelected(entries->index(row, 0, root)) ? QPalette::Highlight
                                                                          : QPalette::Window);
    const int x = option.showDecorationSelected ? 0 : columns->sectionPosition(0);
    const QRect around(x - columns->offset(), option.rect.y(), columns->length() - x,
                       option.rect.height());
    frame.rect = style()->visualRect(layoutDirection(), viewport()->rect(), around);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter);
}
