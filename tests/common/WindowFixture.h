#pragma once

#include "TestData.h"
#include "startup/AppState.h"
#include "ui/main/MainWindow.h"
#include "ui/message/ShowMessage.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// What the window tests start from: a data directory of their own with a master password file
// for TestData::kPassword, the program state on it, scripted answers to every message, and the
// main window. A test class derives from it and calls setUpFixture() from init() and
// tearDownFixture() from cleanup().
class WindowFixture {
protected:
    // From initTestCase(): a test that closes its windows must not end the application.
    static void keepRunningWithoutWindows() { QApplication::setQuitOnLastWindowClosed(false); }

    void setUpFixture()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_state = std::make_unique<AppState>();
        m_state->paths = DataPaths::forDataDirectory(m_dir->path());
        m_answers = std::make_unique<ScriptedAnswers>();
        QVERIFY(TestData::writeFile(m_state->paths.masterPasswordPath,
                                    TestData::masterPasswordRecord(TestData::kPassword)));
    }

    // The window goes first, while the state it points at still exists.
    void tearDownFixture()
    {
        m_window.reset();
        m_answers.reset();
        m_state.reset();
        m_dir.reset();
    }

    void writeLinks(const QByteArray& bytes)
    {
        QVERIFY(TestData::writeFile(m_state->paths.linkFilePath, bytes));
    }
    void writeLinks(const QList<TestData::Item>& items)
    {
        writeLinks(TestData::linkFile(items, TestData::kPassword));
    }

    // The main window shown, still locked, and active.
    [[nodiscard]] bool openMainWindow()
    {
        m_window = std::make_unique<MainWindow>(*m_state);
        m_window->show();
        m_window->activateWindow();
        return QTest::qWaitForWindowActive(m_window.get());
    }

    // As a person does it: the password box, then the Enter button.
    void typeAndEnter(const QString& typed)
    {
        m_window->findChild<QLineEdit*>(QStringLiteral("Text4"))->setText(typed);
        m_window->findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    }

    bool unlock()
    {
        typeAndEnter(QString::fromLatin1(TestData::kPassword));
        return m_window->isUnlocked();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<ScriptedAnswers> m_answers;
    std::unique_ptr<MainWindow> m_window;
};
