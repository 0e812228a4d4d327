// The entry list set beside a tree view configured as the list used to be, on the same entries at
// the same size: the same keys and clicks must leave both on the same rows, scrolled alike, and
// both must look the same, pixel for pixel.
#include "OffscreenWarnings.h"
#include "ui/Artwork.h"
#include "ui/main/EntryListView.h"
#include "ui/main/RowPictureDelegate.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kRows = 120;
const QSize kViewSize(360, 240);

// Where a view stands after some steps.
struct Outcome {
    int currentRow = -1;
    int currentColumn = -1;
    QList<int> selectedRows;
    int top = -1;
    int left = -1;
    QImage rows;
    QImage header;

    bool operator==(const Outcome&) const = default;
};

QHeaderView* columnsOf(QAbstractItemView& view)
{
    if (auto* tree = qobject_cast<QTreeView*>(&view))
        return tree->header();
    return static_cast<EntryListView&>(view).header();
}

QByteArray describe(const Outcome& o)
{
    QByteArray rows;
    for (int row : o.selectedRows)
        rows += QByteArray::number(row) + ' ';
    return "current " + QByteArray::number(o.currentRow) + "/" +
           QByteArray::number(o.currentColumn) + ", selected " + rows + ", scrolled to " +
           QByteArray::number(o.top) + "/" + QByteArray::number(o.left);
}

} // namespace

class TestEntryListView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void keysMoveAsInATreeView_data();
    void keysMoveAsInATreeView();
    void clicksSelectAsInATreeView_data();
    void clicksSelectAsInATreeView();
    void appendedRowShownAsInATreeView();
    void drawnAsATreeView_data();
    void drawnAsATreeView();

private:
    // Puts view in a window of its own over the entries, the first row chosen, as the main window
    // does after a load.
    void show(QAbstractItemView& view, bool narrow = false);
    Outcome outcome(QAbstractItemView& view, bool withPictures = true) const;
    std::unique_ptr<QTreeView> treeView() const;
    std::unique_ptr<EntryListView> listView() const;

    std::unique_ptr<QStandardItemModel> m_entries;
};

void TestEntryListView::initTestCase()
{
    dropOffscreenPlatformWarnings();
}

void TestEntryListView::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    m_entries = std::make_unique<QStandardItemModel>(0, 4);
    m_entries->setHorizontalHeaderLabels(
        {u"Page Title"_s, u"Username"_s, u"Password"_s, u"URL Address"_s});
    for (int i = 0; i < kRows; ++i) {
        m_entries->appendRow({new QStandardItem(u"Title %1"_s.arg(i)),
                              new QStandardItem(u"user%1"_s.arg(i)),
                              new QStandardItem(i % 3 ? u"ooooooo"_s : QString()),
                              new QStandardItem(u"https://example.com/%1"_s.arg(i))});
    }
}

void TestEntryListView::cleanup()
{
    m_entries.reset();
}

std::unique_ptr<QTreeView> TestEntryListView::treeView() const
{
    auto view = std::make_unique<QTreeView>();
    view->setModel(m_entries.get());
    view->setItemDelegate(new RowPictureDelegate(Artwork::rowPicture(), view.get()));
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setItemsExpandable(false);
    view->setAllColumnsShowFocus(true);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setIconSize(QSize(13, 13));
    view->header()->setStretchLastSection(false);
    view->header()->setSectionsMovable(false);
    view->header()->setSectionsClickable(true);
    view->header()->setSortIndicatorShown(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    return view;
}

std::unique_ptr<EntryListView> TestEntryListView::listView() const
{
    auto view = std::make_unique<EntryListView>();
    view->setModel(m_entries.get());
    view->setItemDelegate(new RowPictureDelegate(Artwork::rowPicture(), view.get()));
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setIconSize(QSize(13, 13));
    view->header()->setStretchLastSection(false);
    view->header()->setSectionsMovable(false);
    view->header()->setSectionsClickable(true);
    view->header()->setSortIndicatorShown(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    return view;
}

void TestEntryListView::show(QAbstractItemView& view, bool narrow)
{
    QHeaderView* header = columnsOf(view);
    for (int column = 0; column < 4; ++column)
        header->resizeSection(column, narrow ? 150 : 80);
    view.resize(kViewSize);
    view.show();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    view.setFocus();
    view.selectionModel()->setCurrentIndex(
        m_entries->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

Outcome TestEntryListView::outcome(QAbstractItemView& view, bool withPictures) const
{
    Outcome o;
    o.currentRow = view.currentIndex().row();
    o.currentColumn = view.currentIndex().column();
    for (const QModelIndex& index : view.selectionModel()->selectedRows())
        o.selectedRows << index.row();
    std::sort(o.selectedRows.begin(), o.selectedRows.end());
    o.top = view.verticalScrollBar()->value();
    o.left = view.horizontalScrollBar()->value();
    if (withPictures) {
        o.rows = view.viewport()->grab().toImage();
        o.header = columnsOf(view)->grab().toImage();
    }
    return o;
}

void TestEntryListView::keysMoveAsInATreeView_data()
{
    QTest::addColumn<int>("startRow");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<bool>("narrow");

    const auto keys = [](std::initializer_list<QKeyCombination> combinations) {
        QList<int> combined;
        for (QKeyCombination c : combinations)
            combined << c.toCombined();
        return combined;
    };
    QTest::newRow("down, up") << 0 << keys({Qt::Key_Down, Qt::Key_Down, Qt::Key_Up}) << false;
    QTest::newRow("up at the top") << 0 << keys({Qt::Key_Up}) << false;
    QTest::newRow("down at the bottom") << kRows - 1 << keys({Qt::Key_Down}) << false;
    QTest::newRow("end") << 0 << keys({Qt::Key_End}) << false;
    QTest::newRow("home") << 70 << keys({Qt::Key_Home}) << false;
    QTest::newRow("ctrl+end, ctrl+home")
        << 5 << keys({Qt::CTRL | Qt::Key_End, Qt::CTRL | Qt::Key_Home}) << false;
    QTest::newRow("page down") << 0 << keys({Qt::Key_PageDown}) << false;
    QTest::newRow("page down twice") << 0 << keys({Qt::Key_PageDown, Qt::Key_PageDown}) << false;
    QTest::newRow("page down near the end") << kRows - 3 << keys({Qt::Key_PageDown}) << false;
    QTest::newRow("page up") << 60 << keys({Qt::Key_PageUp}) << false;
    QTest::newRow("page up near the top") << 3 << keys({Qt::Key_PageUp}) << false;
    QTest::newRow("end, page up") << 0 << keys({Qt::Key_End, Qt::Key_PageUp}) << false;
    QTest::newRow("shift+down") << 4 << keys({Qt::SHIFT | Qt::Key_Down, Qt::SHIFT | Qt::Key_Down})
                                << false;
    QTest::newRow("shift+up past the start")
        << 4 << keys({Qt::SHIFT | Qt::Key_Down, Qt::SHIFT | Qt::Key_Up, Qt::SHIFT | Qt::Key_Up})
        << false;
    QTest::newRow("shift+end") << 10 << keys({Qt::SHIFT | Qt::Key_End}) << false;
    QTest::newRow("shift+page down") << 10 << keys({Qt::SHIFT | Qt::Key_PageDown}) << false;
    QTest::newRow("end, shift+home") << 0 << keys({Qt::Key_End, Qt::SHIFT | Qt::Key_Home}) << false;
    QTest::newRow("right, right, left")
        << 2 << keys({Qt::Key_Right, Qt::Key_Right, Qt::Key_Left}) << true;
    QTest::newRow("right to the end") << 2 << QList<int>(12, Qt::Key_Right) << true;
    QTest::newRow("ctrl+down, ctrl+space")
        << 1 << keys({Qt::CTRL | Qt::Key_Down, Qt::CTRL | Qt::Key_Down, Qt::CTRL | Qt::Key_Space})
        << false;
    QTest::newRow("ctrl+a") << 7 << keys({Qt::CTRL | Qt::Key_A}) << false;
    QTest::newRow("typed letters") << 0 << keys({Qt::Key_T}) << false;
}

void TestEntryListView::keysMoveAsInATreeView()
{
    QFETCH(int, startRow);
    QFETCH(QList<int>, keys);
    QFETCH(bool, narrow);

    const auto drive = [&](QAbstractItemView& view) {
        show(view, narrow);
        view.selectionModel()->setCurrentIndex(m_entries->index(startRow, 0),
                                               QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
        view.scrollTo(view.currentIndex());
        for (int key : keys) {
            const auto c = QKeyCombination::fromCombined(key);
            QTest::keyClick(&view, c.key(), c.keyboardModifiers());
        }
        return outcome(view);
    };
    auto tree = treeView();
    const Outcome expected = drive(*tree);
    auto list = listView();
    const Outcome actual = drive(*list);
    QVERIFY2(actual == expected, describe(actual) + " against " + describe(expected));
}

void TestEntryListView::clicksSelectAsInATreeView_data()
{
    QTest::addColumn<QList<QPoint>>("clicks"); // in rows, x in pixels
    QTest::addColumn<QList<int>>("modifiers");
    QTest::addColumn<bool>("drag");

    using Points = QList<QPoint>;
    using Mods = QList<int>;
    QTest::newRow("click") << Points{{40, 3}} << Mods{0} << false;
    QTest::newRow("click, shift+click")
        << Points{{40, 2}, {200, 7}} << Mods{0, int(Qt::ShiftModifier)} << false;
    QTest::newRow("click, ctrl+click, ctrl+click")
        << Points{{40, 2}, {100, 5}, {40, 2}}
        << Mods{0, int(Qt::ControlModifier), int(Qt::ControlModifier)} << false;
    QTest::newRow("click right of the columns") << Points{{340, 4}} << Mods{0} << false;
    QTest::newRow("drag down") << Points{{40, 2}, {60, 6}} << Mods{0, 0} << true;
    QTest::newRow("drag up") << Points{{40, 9}, {60, 4}} << Mods{0, 0} << true;
    QTest::newRow("drag right of the columns") << Points{{40, 2}, {345, 6}} << Mods{0, 0} << true;
}

void TestEntryListView::clicksSelectAsInATreeView()
{
    QFETCH(QList<QPoint>, clicks);
    QFETCH(QList<int>, modifiers);
    QFETCH(bool, drag);

    const auto drive = [&](QAbstractItemView& view) {
        show(view);
        const int height = view.visualRect(m_entries->index(0, 0)).height();
        const auto at = [height](QPoint p) {
            return QPoint(p.x(), p.y() * height + height / 2);
        };
        if (drag) {
            QTest::mousePress(view.viewport(), Qt::LeftButton, {}, at(clicks.first()));
            QMouseEvent move(QEvent::MouseMove, at(clicks.last()),
                             view.viewport()->mapToGlobal(at(clicks.last())), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(view.viewport(), &move);
            QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, at(clicks.last()));
        } else {
            for (qsizetype i = 0; i < clicks.size(); ++i) {
                QTest::mouseClick(view.viewport(), Qt::LeftButton,
                                  Qt::KeyboardModifiers(modifiers[i]), at(clicks[i]));
            }
        }
        return outcome(view);
    };
    auto tree = treeView();
    const Outcome expected = drive(*tree);
    auto list = listView();
    const Outcome actual = drive(*list);
    QVERIFY2(actual == expected, describe(actual) + " against " + describe(expected));
}

// A row added at the end while the last row is shown: both views show it at once, chosen.
void TestEntryListView::appendedRowShownAsInATreeView()
{
    const auto drive = [&](QAbstractItemView& view) {
        show(view);
        QTest::keyClick(&view, Qt::Key_End);
        QCoreApplication::processEvents();
        const int row = m_entries->rowCount();
        m_entries->appendRow({new QStandardItem(u"Added"_s), new QStandardItem(u"new"_s),
                              new QStandardItem(u"ooooooo"_s), new QStandardItem(u"https://"_s)});
        view.selectionModel()->setCurrentIndex(m_entries->index(row, 0),
                                               QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
        view.scrollTo(m_entries->index(row, 0));
        const Outcome shown = outcome(view);
        m_entries->removeRow(row);
        return shown;
    };
    auto tree = treeView();
    const Outcome expected = drive(*tree);
    auto list = listView();
    const Outcome actual = drive(*list);
    QCOMPARE(actual.currentRow, kRows);
    QVERIFY2(actual == expected, describe(actual) + " against " + describe(expected));
}

void TestEntryListView::drawnAsATreeView_data()
{
    QTest::addColumn<QString>("state");

    QTest::newRow("focus elsewhere") << u"focus elsewhere"_s;
    QTest::newRow("window inactive") << u"window inactive"_s;
    QTest::newRow("pointer over a row") << u"pointer over a row"_s;
    QTest::newRow("wheel") << u"wheel"_s;
    QTest::newRow("larger font") << u"larger font"_s;
    QTest::newRow("resized") << u"resized"_s;
    QTest::newRow("first row emptied") << u"first row emptied"_s;
    QTest::newRow("rows removed") << u"rows removed"_s;
    QTest::newRow("rows reordered") << u"rows reordered"_s;
    QTest::newRow("emptied and filled again") << u"emptied and filled again"_s;
}

void TestEntryListView::drawnAsATreeView()
{
    QFETCH(QString, state);

    const auto drive = [&](QAbstractItemView& view) {
        show(view);
        QTest::keyClick(&view, Qt::Key_Down);
        QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
        QWidget other;
        if (state == u"focus elsewhere") {
            view.clearFocus();
        } else if (state == u"window inactive") {
            other.show();
            other.activateWindow();
            [&] {
                QVERIFY(QTest::qWaitForWindowActive(&other));
            }();
        } else if (state == u"pointer over a row") {
            const QRect row = view.visualRect(m_entries->index(5, 1));
            QTest::mouseMove(view.viewport(), row.center());
            QHoverEvent hover(QEvent::HoverMove, row.center(),
                              view.viewport()->mapToGlobal(row.center()), QPoint(-1, -1));
            QCoreApplication::sendEvent(view.viewport(), &hover);
        } else if (state == u"wheel") {
            QWheelEvent wheel(QPointF(50, 50), view.viewport()->mapToGlobal(QPointF(50, 50)), {},
                              QPoint(0, -240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QCoreApplication::sendEvent(view.viewport(), &wheel);
        } else if (state == u"larger font") {
            QFont larger = view.font();
            larger.setPointSizeF(larger.pointSizeF() * 1.6);
            larger.setBold(true);
            view.setFont(larger);
        } else if (state == u"resized") {
            view.resize(kViewSize + QSize(37, 91));
        } else if (state == u"first row emptied") {
            for (int column = 0; column < 4; ++column)
                m_entries->setData(m_entries->index(0, column), QVariant());
        } else if (state == u"rows removed") {
            m_entries->removeRows(0, 2);
            m_entries->removeRows(5, 3);
        } else if (state == u"rows reordered") {
            m_entries->sort(0, Qt::DescendingOrder);
        } else if (state == u"emptied and filled again") {
            const int rows = m_entries->rowCount();
            m_entries->setRowCount(0);
            QCoreApplication::processEvents();
            m_entries->setRowCount(rows / 2);
            for (int row = 0; row < rows / 2; ++row)
                m_entries->setData(m_entries->index(row, 0), u"Again %1"_s.arg(row));
            view.selectionModel()->setCurrentIndex(m_entries->index(3, 0),
                                                   QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
        }
        QCoreApplication::processEvents();
        return outcome(view);
    };
    auto tree = treeView();
    const Outcome expected = drive(*tree);
    tree.reset();
    init(); // the same entries for the list
    auto list = listView();
    const Outcome actual = drive(*list);
    QVERIFY2(actual == expected, describe(actual) + " against " + describe(expected));
}

QTEST_MAIN(TestEntryListView)
#include "tst_entrylistview.moc"
