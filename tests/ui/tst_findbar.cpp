// The find bar and the keys of the main window: the rows shown narrow, and every command still
// acts on the record it shows.

#include "OffscreenWarnings.h"
#include "TestData.h"
#include "WindowFixture.h"
#include "store/EntryModel.h"
#include "store/LinkFile.h"
#include "ui/entry/EnterItemsWindow.h"
#include "ui/main/AddressOpener.h"
#include "ui/main/EntryFilter.h"
#include "ui/main/EntryListView.h"
#include "ui/main/MainMenus.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QClipboard>
#include <QMenu>
#include <QPointer>
#include <QToolButton>

using namespace Qt::StringLiterals;
using TestData::kPassword;

namespace {

const QList<TestData::Item> kItems = {
    {"Bank", "https://bank.example", "alice", "pw bank"},
    {"Mail", "https://mail.example", "bob", "pw mail"},
    {"Shop", "https://shop.example", "ALICE.w", "pw shop"},
    {"News", "https://news.example", "carol", "pw news"},
    {"Bookshop", "https://books.example", "dave", "pw books"},
    {"Caf\xe9", "https://cafe.example", "erin", "pw cafe"},
};
const TestData::Item kNewItem = {"Bakery", "https://bakery.example", "frank", "pw bakery"};

QList<TestData::Item> inOrder(const QList<int>& numbers)
{
    QList<TestData::Item> list;
    for (int n : numbers)
        list << kItems[n - 1];
    return list;
}

Entry entryOf(const QByteArray& title, const QByteArray& userName, int key)
{
    return Entry(title, "https://" + title.toLower() + ".example", userName, "c", key);
}

} // namespace

class TestFindBar : public QObject, private WindowFixture {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void narrows_data();
    void narrows();
    void commandsActOnTheRecordShown_data();
    void commandsActOnTheRecordShown();
    void addShowsTheNewEntry_data();
    void addShowsTheNewEntry();
    void escapeClosesTheBarFirst();
    void closedBarLeavesTheWindowAsItWas();
    void clearButtonShowsAllAgain();
    void lockedWindowHasNoFindBar();
    void shortcuts_data();
    void shortcuts();
    void filterFollowsTheModel_data();
    void filterFollowsTheModel();

private:
    [[nodiscard]] bool openUnlocked();
    EntryListView* list() const { return m_window->findChild<EntryListView*>(u"ListView1"_s); }
    QLineEdit* findBar() const { return m_window->findChild<QLineEdit*>(u"FindBar"_s); }
    QStringList titlesShown() const;
    void find(const QString& text);

    QList<QUrl> m_urls;
};

void TestFindBar::initTestCase()
{
    keepRunningWithoutWindows();
    dropOffscreenPlatformWarnings();
}

void TestFindBar::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    setUpFixture();
    m_urls.clear();
    QGuiApplication::clipboard()->clear();
}

void TestFindBar::cleanup()
{
    if (m_window) {
        if (QPointer<QWidget> enterItems = m_window->enterItemsWindow()) {
            enterItems->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    tearDownFixture();
    QGuiApplication::clipboard()->clear();
}

bool TestFindBar::openUnlocked()
{
    writeLinks(kItems);
    if (!openMainWindow())
        return false;
    m_window->addressOpener().setLauncher({[](const QString&, const QStringList&) { return false; },
                                           [this](const QUrl& url) {
                                               m_urls << url;
                                               return true;
                                           }});
    return unlock();
}

QStringList TestFindBar::titlesShown() const
{
    QStringList titles;
    const QAbstractItemModel* shown = list()->model();
    for (int row = 0; row < shown->rowCount(); ++row)
        titles << shown->index(row, 0).data().toString();
    return titles;
}

// As a person does it: Ctrl+F, then the text typed.
void TestFindBar::find(const QString& text)
{
    QTest::keyClick(list(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(findBar()->isVisible());
    QVERIFY(findBar()->hasFocus());
    QTest::keyClicks(findBar(), text);
}

void TestFindBar::narrows_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hiddenUserNames");
    QTest::addColumn<QStringList>("shown");
    const QStringList all = {u"Bank"_s, u"Mail"_s, u"Shop"_s, u"News"_s, u"Bookshop"_s, u"Café"_s};
    QTest::newRow("nothing typed") << QString() << false << all;
    QTest::newRow("user name, either case")
        << u"alice"_s << false << QStringList{u"Bank"_s, u"Shop"_s};
    QTest::newRow("title, in the middle")
        << u"SHOP"_s << false << QStringList{u"Shop"_s, u"Bookshop"_s};
    QTest::newRow("address") << u"bank.ex"_s << false << QStringList{u"Bank"_s};
    QTest::newRow("beyond ASCII, either case") << u"CAFÉ"_s << false << QStringList{u"Café"_s};
    QTest::newRow("no entry holds it") << u"zebra"_s << false << QStringList();
    // Finding by a hidden user name would spell it out.
    QTest::newRow("hidden user names are not searched") << u"alice"_s << true << QStringList();
    QTest::newRow("the password is never searched") << u"pw"_s << false << QStringList();
}

void TestFindBar::narrows()
{
    QFETCH(QString, text);
    QFETCH(bool, hiddenUserNames);
    QFETCH(QStringList, shown);
    m_state->settings.hiddenUserNames = hiddenUserNames ? 1 : 0;
    QVERIFY(openUnlocked());
    find(text);
    QCOMPARE(titlesShown(), shown);
    // The commands need a selected entry: the first shown, when there is one.
    if (shown.isEmpty()) {
        QCOMPARE(m_window->currentRow(), -1);
    } else {
        QCOMPARE(list()->currentIndex().data().toString(), shown.first());
        QCOMPARE(m_window->selectedRows().size(), 1u);
    }
}

// Under the find text "alice" the list shows Bank (record 1) and Shop (record 3); Shop, the
// second row shown, is selected and the command run.
void TestFindBar::commandsActOnTheRecordShown_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QList<TestData::Item>>("file");
    QTest::addColumn<int>("selectedAfter");
    QTest::addColumn<QStringList>("shown");
    QList<TestData::Item> replaced = kItems;
    replaced[2] = kNewItem;
    // The new entry does not hold the find text; it stays selected, so the text goes.
    QTest::newRow("replace") << "Command2"_ba << replaced << 2
                             << QStringList{u"Bank"_s, u"Mail"_s,     u"Bakery"_s,
                                            u"News"_s, u"Bookshop"_s, u"Café"_s};
    QTest::newRow("move up, past a hidden entry")
        << "mnu1MoveUp"_ba << inOrder({1, 3, 2, 4, 5, 6}) << 1 << QStringList{u"Bank"_s, u"Shop"_s};
    QTest::newRow("move to top") << "mnu1ToTop"_ba << inOrder({3, 1, 2, 4, 5, 6}) << 0
                                 << QStringList{u"Shop"_s, u"Bank"_s};
    QTest::newRow("move to bottom")
        << "mnu1ToBot"_ba << inOrder({1, 2, 4, 5, 6, 3}) << 5 << QStringList{u"Bank"_s, u"Shop"_s};
    QTest::newRow("delete") << "mnu1DelURLFromList"_ba << inOrder({1, 2, 4, 5, 6}) << 0
                            << QStringList{u"Bank"_s};
}

void TestFindBar::commandsActOnTheRecordShown()
{
    QFETCH(QByteArray, command);
    QFETCH(QList<TestData::Item>, file);
    QFETCH(int, selectedAfter);
    QFETCH(QStringList, shown);
    m_state->settings.messageSuppression[6] = u'1'; // delete without asking
    m_state->settings.messageSuppression[8] = u'1'; // replace without asking
    QVERIFY(openUnlocked());
    find(u"alice"_s);
    list()->selectionModel()->setCurrentIndex(list()->model()->index(1, 0),
                                              QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    QCOMPARE(m_window->currentRow(), 2);

    if (command == "Command2") {
        m_window->openEnterItemsWindow();
        EnterItemsWindow* enterItems = m_window->enterItemsWindow();
        QVERIFY(enterItems);
        const QStringList boxes = {u"Text1"_s, u"Text2"_s, u"Text3"_s, u"Text5"_s};
        const QList<QByteArray> texts = {kNewItem.title, kNewItem.userName, kNewItem.password,
                                         kNewItem.url};
        for (int i = 0; i < boxes.size(); ++i)
            enterItems->findChild<QLineEdit*>(boxes[i])->setText(QString::fromLatin1(texts[i]));
        enterItems->findChild<QPushButton*>(u"Command2"_s)->click();
    } else {
        m_window->menus().action(command.constData())->trigger();
    }

    QCOMPARE(m_answers->texts(), QStringList());
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), TestData::linkFile(file, kPassword));
    QCOMPARE(m_window->currentRow(), selectedAfter);
    QCOMPARE(titlesShown(), shown);
    QVERIFY(findBar()->isVisible());
}

// The entry just added does not hold the find text; it is selected, so it is shown.
void TestFindBar::addShowsTheNewEntry_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("findText");
    QTest::addColumn<QStringList>("titles");

    QStringList all;
    for (const TestData::Item& item : kItems)
        all << QString::fromLatin1(item.title);
    // An entry the find text would hide empties it.
    QTest::newRow("hidden by the find text")
        << u"frank"_s << QString() << (all + QStringList{u"Bakery"_s});
    QTest::newRow("found by the find text")
        << u"alice.b"_s << u"alice"_s << QStringList{u"Bank"_s, u"Shop"_s, u"Bakery"_s};
}

void TestFindBar::addShowsTheNewEntry()
{
    QFETCH(QString, userName);
    QFETCH(QString, findText);
    QFETCH(QStringList, titles);

    m_state->settings.messageSuppression[7] = u'1';
    QVERIFY(openUnlocked());
    find(u"alice"_s);
    m_window->openEnterItemsWindow();
    EnterItemsWindow* enterItems = m_window->enterItemsWindow();
    QVERIFY(enterItems);
    enterItems->findChild<QLineEdit*>(u"Text1"_s)->setText(u"Bakery"_s);
    enterItems->findChild<QLineEdit*>(u"Text2"_s)->setText(userName);
    enterItems->findChild<QPushButton*>(u"Command1"_s)->click();
    QCOMPARE(m_window->currentRow(), kItems.size());
    QCOMPARE(m_window->selectedRows(), std::vector<int>{int(kItems.size())});
    QCOMPARE(list()->currentIndex().data().toString(), u"Bakery"_s);
    QCOMPARE(findBar()->text(), findText);
    QCOMPARE(titlesShown(), titles);
    // On screen, where a click finds it again.
    const QRect shown = list()->visualRect(list()->currentIndex());
    QVERIFY(shown.height() > 0);
    QVERIFY(list()->viewport()->rect().contains(shown.center()));
    QCOMPARE(list()->indexAt(shown.center()).row(), titles.size() - 1);
}

void TestFindBar::escapeClosesTheBarFirst()
{
    QVERIFY(openUnlocked());
    find(u"shop"_s);
    list()->selectionModel()->setCurrentIndex(list()->model()->index(1, 0),
                                              QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    QCOMPARE(m_window->currentRow(), 4); // Bookshop

    QTest::keyClick(list(), Qt::Key_Escape);
    QVERIFY(m_window->isVisible());
    QVERIFY(findBar()->isHidden());
    QCOMPARE(titlesShown().size(), kItems.size());
    QCOMPARE(m_window->currentRow(), 4);
    QCOMPARE(m_window->selectedRows(), std::vector<int>{4});

    // The next Escape closes the window, as it always did.
    QTest::keyClick(list(), Qt::Key_Escape);
    QVERIFY(!m_window->isVisible());
}

void TestFindBar::closedBarLeavesTheWindowAsItWas()
{
    QVERIFY(openUnlocked());
    const QRect listBefore = list()->geometry();
    find(u"a"_s);
    // Under the list, in the room the list gave up.
    QCOMPARE(findBar()->geometry().top(), list()->geometry().bottom() + 1);
    QCOMPARE(findBar()->geometry().bottom(), listBefore.bottom());
    QCOMPARE(findBar()->width(), listBefore.width());
    m_window->resize(m_window->width() + 40, m_window->height() + 30);
    QCOMPARE(findBar()->geometry().bottom(), list()->geometry().bottom() + findBar()->height());
    m_window->resize(m_window->width() - 40, m_window->height() - 30);

    QTest::keyClick(findBar(), Qt::Key_Escape);
    QCOMPARE(list()->geometry(), listBefore);
    QVERIFY(list()->hasFocus());
    // Tab from the list goes where it went before the bar was ever opened.
    QTest::keyClick(list(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_window->findChild<QWidget*>(u"Check2"_s));
}

// The bar gets its clear button only when first opened; it must be there and work.
void TestFindBar::clearButtonShowsAllAgain()
{
    QVERIFY(openUnlocked());
    find(u"shop"_s);
    QCOMPARE(titlesShown().size(), 2);
    QVERIFY(findBar()->isClearButtonEnabled());
    auto* clear = findBar()->findChild<QToolButton*>();
    QVERIFY(clear);
    QTRY_VERIFY(clear->isVisible());
    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(findBar()->text(), QString());
    QCOMPARE(titlesShown().size(), kItems.size());
}

void TestFindBar::lockedWindowHasNoFindBar()
{
    writeLinks(kItems);
    QVERIFY(openMainWindow());
    QLineEdit* passwordBox = m_window->findChild<QLineEdit*>(u"Text4"_s);
    QTest::keyClick(passwordBox, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(findBar()->isHidden());
    QVERIFY(passwordBox->hasFocus());
}

// Each row: where the focus is, the key, what the clipboard then holds, the addresses opened,
// whether the Enter Items window opened, the messages shown.
void TestFindBar::shortcuts_data()
{
    QTest::addColumn<bool>("inFindBar");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QList<QUrl>>("opened");
    QTest::addColumn<bool>("enterItems");
    QTest::addColumn<int>("questions");
    const int ctrl = Qt::ControlModifier;
    const int none = Qt::NoModifier;
    const QList<QUrl> none_opened;
    QTest::newRow("Ctrl+B copies the user name")
        << false << int(Qt::Key_B) << ctrl << u"bob"_s << none_opened << false << 0;
    QTest::newRow("Ctrl+C copies the password")
        << false << int(Qt::Key_C) << ctrl << u"pw mail"_s << none_opened << false << 0;
    QTest::newRow("Ctrl+U opens the address")
        << false << int(Qt::Key_U) << ctrl << QString()
        << QList<QUrl>{QUrl(u"https://mail.example"_s)} << false << 0;
    QTest::newRow("Ctrl+E opens Enter Items")
        << false << int(Qt::Key_E) << ctrl << QString() << none_opened << true << 0;
    QTest::newRow("Delete asks first")
        << false << int(Qt::Key_Delete) << none << QString() << none_opened << false << 1;
    // Typing in the find bar keeps the keys of a text box.
    QTest::newRow("Ctrl+C in the find bar copies its text")
        << true << int(Qt::Key_C) << ctrl << u"mail"_s << none_opened << false << 0;
    QTest::newRow("Delete in the find bar deletes a character")
        << true << int(Qt::Key_Delete) << none << QString() << none_opened << false << 0;
    QTest::newRow("Ctrl+B in the find bar still copies the user name")
        << true << int(Qt::Key_B) << ctrl << u"bob"_s << none_opened << false << 0;
}

void TestFindBar::shortcuts()
{
    QFETCH(bool, inFindBar);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, clipboard);
    QFETCH(QList<QUrl>, opened);
    QFETCH(bool, enterItems);
    QFETCH(int, questions);
    QVERIFY(openUnlocked());
    const QByteArray before = TestData::readFile(m_state->paths.linkFilePath);
    QWidget* target = list();
    if (inFindBar) {
        find(u"mail"_s);
        findBar()->selectAll();
        target = findBar();
    } else {
        m_window->selectRow(1);
        list()->setFocus();
    }
    m_answers->queue(MessageAnswer::No);

    QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    QCOMPARE(m_urls, opened);
    QCOMPARE(m_window->enterItemsWindow() != nullptr, enterItems);
    QCOMPARE(m_answers->shown().size(), questions);
    QCOMPARE(TestData::readFile(m_state->paths.linkFilePath), before);
    if (inFindBar && key == Qt::Key_Delete)
        QCOMPARE(findBar()->text(), QString());
    // The menus say which key does what.
    const QString menuText = m_window->menus().action("mnu1CopyPassToClip")->shortcut().toString();
    QCOMPARE(menuText, u"Ctrl+C"_s);
}

void TestFindBar::filterFollowsTheModel_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("every entry") << QString();
    QTest::newRow("some entries") << u"sh"_s;
    QTest::newRow("by user name") << u"ALI"_s;
    QTest::newRow("none") << u"nothing holds this"_s;
}

// The filter keeps no table of rows while it shows them all, and its own table while it narrows:
// after each change of the model, either must show the rows that hold the text, in file order,
// and tell the view of the change as a model must (the tester checks every signal).
void TestFindBar::filterFollowsTheModel()
{
    QFETCH(QString, text);
    EntryModel model;
    std::vector<Entry> entries;
    for (int i = 0; i < kItems.size(); ++i)
        entries.push_back(entryOf(kItems[i].title, kItems[i].userName, i + 1));
    model.setEntries(entries);
    EntryFilter filter(model);
    QAbstractItemModelTester tester(&filter,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    filter.setFindText(text);

    const auto expected = [&] {
        const auto holds = [&](QByteArrayView item) {
            return QString::fromLatin1(item).contains(filter.findText(), Qt::CaseInsensitive);
        };
        QList<int> rows;
        for (int row = 0; row < model.rowCount(); ++row) {
            const Entry& e = model.entry(row);
            if (holds(e.title()) || holds(e.url()) ||
                (!model.userNamesHidden() && holds(e.userName())))
                rows << row;
        }
        return rows;
    };
    const auto shown = [&] {
        QList<int> rows;
        for (int row = 0; row < filter.rowCount(); ++row) {
            const int source = filter.mapToSource(filter.index(row, 0)).row();
            if (filter.mapFromSource(model.index(source, 2)) != filter.index(row, 2))
                rows << -1; // a row that does not map back
            rows << source;
        }
        return rows;
    };
    QCOMPARE(shown(), expected());

    const std::vector<std::function<void()>> changes = {
        [&] { model.appendEntry(entryOf("Shop two", "zed", 100)); },
        [&] { model.insertEntry(0, entryOf("Ash", "alix", 101)); },
        [&] { model.insertEntry(3, entryOf("Quay", "quinn", 102)); },
        [&] { model.removeEntry(1); },
        [&] { model.moveEntry(0, model.rowCount() - 1); },
        [&] { model.moveEntry(model.rowCount() - 2, 1); },
        [&] {
            model.removeEntries({0, 2, 3});
        },
        [&] {
            for (int i = 0; i < 40; ++i)
                model.appendEntry(
                    entryOf(i % 3 ? "Shore" : "Dune", i % 2 ? "alice" : "x", 200 + i));
        },
        // Past a few runs the model starts afresh instead of removing run by run.
        [&] {
            std::vector<int> rows;
            for (int row = 1; row < model.rowCount(); row += 2)
                rows.push_back(row);
            model.removeEntries(rows);
        },
        [&] { model.setUserNamesHidden(true); },
        [&] { model.setUserNamesHidden(false); },
        [&] { filter.setFindText(u"o"_s); },
        [&] { filter.setFindText(text); },
        [&] {
            model.setEntries({entryOf("Shack", "alice", 1), entryOf("Barn", "bo", 2)});
        },
        [&] { model.clear(); },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        changes[i]();
        QVERIFY2(shown() == expected(), qPrintable(u"after change %1"_s.arg(i)));
    }
}

QTEST_MAIN(TestFindBar)
#include "tst_findbar.moc"
