#pragma once

#include <QGuiApplication>

// Under Wayland a client neither learns nor sets where its window is, cannot keep it on top,
// and the compositor keeps a copy of the clipboard of its own.
inline bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
