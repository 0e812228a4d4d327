#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own pictures, painted in code so that they stay sharp at any screen scale.
namespace Artwork {

QIcon programIcon();
// Makes programIcon() the application's window icon, once: its sizes are painted and handed to
// the window system when a window first needs them, not before the first window shows.
void useProgramIcon();
QPixmap smallLogo();               // 144 x 34, top row of the main window
QPixmap banner(const QSize& size); // a strip across the top of a window
QPixmap panelLogo();               // 369 x 160, behind the password panel
QPixmap coverLogo();               // 100 x 100, centred on the cover
QPixmap passwordPrompt();          // 320 x 26, asks for the password and names its limit
QPixmap rowPicture();              // 13 x 13, every row of the list

} // namespace Artwork
