#pragma once

#include <QString>
#include <QtGlobal>

// The offscreen platform cannot raise a window, grab the keyboard for a menu or pass a window's
// size limits on, and says so in warnings beginning "This plugin does not support "; that is
// its own limit, not ours. Call from initTestCase(): every other warning still reaches the test
// log and QTest::failOnWarning.
inline void dropOffscreenPlatformWarnings()
{
    static QtMessageHandler testLog = nullptr;
    if (testLog)
        return;
    testLog = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (type == QtWarningMsg && message.startsWith(u"This plugin does not support "))
                return;
            testLog(type, context, message);
        });
}
