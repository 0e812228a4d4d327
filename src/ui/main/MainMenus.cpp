#include "MainMenus.h"

namespace {

struct MenuEntry {
    const char* name;
    const char* caption; // nullptr: a separator
};

constexpr MenuEntry kListMenu[] = {
    {"mnu1NavTo", "&Navigate To Selected URL Address"},
    {"mnuSep000", nullptr},
    {"mnu1CopyUzzaToClip", "Copy &Username"},
    {"mnu1CopyPassToClip", "Copy &Password"},
    {"mnuSep00", nullptr},
    {"mnu1CopyTitleToClip", "Copy &Page Title"},
    {"mnu1CopyURLToClip", "Copy &URL Address"},
    {"mnuSep0", nullptr},
    {"mnu1MoveUp", "Move &Up"},
    {"mnu1Movedown", "Move &Down"},
    {"mnu1ToTop", "Move To &Top"},
    {"mnu1ToBot", "Move To &Bottom"},
    {"mnuSep1", nullptr},
    {"mnu1LoadTextBoxes", "&Load Enter Items Text Boxes With Selected Items"},
    {"mnuSep2", nullptr},
    {"mnu1ViewHidUsername", "&View Selected Hidden Username (below)"},
    {"mnu1ViewPass", "&View Selected Password (below)"},
    {"mnuSep3", nullptr},
    {"mnu1DelURLFromList", "&Delete Selected Item Set(s)"},
};

constexpr MenuEntry kAppMenu[] = {
    {"mnu1Font", "&Text Fonts"},
    {"mnu1ApSettings", "&Option Settings"},
    {"mnu1EnterItems", "&Enter Items Window"},
    {"mnuSep4", nullptr},
    {"mnu1BUfiles", "&Back-Up Your Links Files"},
    {"mnu1BURestore", "&Restore w/ Back-Up Files"},
    {"mnu1BUundo", "&Undo Previous Restore"},
    {"mnu1Merge", "&Merge Another Version Of The List"},
    {"mnuSep5", nullptr},
    {"mnu1QuilUpdates", "&Upgrades && Security Alerts"},
    {"mnu1About", "&About"},
    {"mnu1Help", "&Help"},
};

template <std::size_t N>
QMenu* buildMenu(QWidget* parent, const char* name, const char* caption,
                 const MenuEntry (&entries)[N])
{
    auto* menu = new QMenu(QString::fromLatin1(caption), parent);
    menu->setObjectName(QString::fromLatin1(name));
    // Never seen on the menu itself; it names the pop-up's window for the window system.
    menu->setWindowTitle(menu->title());
    for (const MenuEntry& e : entries) {
        QAction* action =
            e.caption ? menu->addAction(QString::fromLatin1(e.caption)) : menu->addSeparator();
        action->setObjectName(QString::fromLatin1(e.name));
        // Each command is enabled where it is wired to its work.
        if (e.caption)
            action->setEnabled(false);
    }
    return menu;
}

} // namespace

MainMenus::MainMenus(QWidget* parent)
    : m_list(buildMenu(parent, "mnu11Pop1", "Pop11-1", kListMenu))
    , m_app(buildMenu(parent, "mnu11Pop2", "Pop11-2", kAppMenu))
{
    action("mnu1BUundo")->setVisible(false);
}

QAction* MainMenus::action(const char* name) const
{
    const QString objectName = QString::fromLatin1(name);
    for (QMenu* menu : {m_list, m_app}) {
        for (QAction* a : menu->actions()) {
            if (a->objectName() == objectName)
                return a;
        }
    }
    Q_ASSERT_X(false, "MainMenus::action", name);
    return nullptr;
}
