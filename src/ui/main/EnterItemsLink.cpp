#include "EnterItemsLink.h"

#include "MainWindow.h"
#include "startup/AppState.h"
#include "ui/Twips.h"
#include "ui/entry/EnterItemsWindow.h"

namespace {
// Where the window opens, from the main window's left and top, in twips.
constexpr int kOffsetLeft = 360;
constexpr int kOffsetTop = 30;
} // namespace

EnterItemsLink::EnterItemsLink(AppState& state, MainWindow& mainWindow)
    : m_state(state)
    , m_mainWindow(mainWindow)
{
}

EnterItemsWindow* EnterItemsLink::window() const
{
    return m_window.data();
}

void EnterItemsLink::open()
{
    if (EnterItemsWindow* open = window()) {
        if (open->isMinimized())
            open->showNormal();
        open->raise();
        open->activateWindow();
        return;
    }
    EnterItemsWindow* created = create();
    created->activateWindow();
    if (auto* url = created->findChild<QWidget*>(QStringLiteral("Text5")))
        url->setFocus(Qt::OtherFocusReason);
}

EnterItemsWindow* EnterItemsLink::ensureOpen()
{
    if (EnterItemsWindow* open = window())
        return open;
    return create();
}

EnterItemsWindow* EnterItemsLink::create()
{
    m_window = new EnterItemsWindow(m_state, m_mainWindow);
    m_window->move(m_mainWindow.pos() +
                   QPoint(twipsToPixels(kOffsetLeft), twipsToPixels(kOffsetTop)));
    m_window->show();
    return m_window;
}

void EnterItemsLink::showSelectedTitle(const QString& title)
{
    if (EnterItemsWindow* open = window())
        open->setSelectedTitle(title);
}

void EnterItemsLink::applyFonts()
{
    if (EnterItemsWindow* open = window())
        open->TxtFonts2();
}

void EnterItemsLink::close()
{
    if (EnterItemsWindow* open = window())
        open->close();
}
