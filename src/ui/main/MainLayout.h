#pragma once

#include <QRect>
#include <QRectF>

// Geometry of the main window's controls, in twips, as laid out for an inner area.
namespace MainLayout {

// Design positions and sizes.
inline constexpr QRectF kMenuButton{105, 90, 1290, 390};
inline constexpr QRectF kSmallLogo{1635, 30, 2160, 510};
inline constexpr QRectF kEnterItemsButton{4020, 90, 2580, 390};
inline constexpr QRectF kList{60, 585, 6615, 4440};
inline constexpr QRectF kPasswordPanel{285, 1020, 5535, 2400};
inline constexpr QRectF kPrompt{420, 765, 4800, 390};
inline constexpr QRectF kEnterButton{300, 1215, 645, 330};
inline constexpr QRectF kPasswordBox{1005, 1215, 4155, 330};
inline constexpr QRectF kChangePasswordButton{1395, 1740, 1530, 330};
inline constexpr QRectF kDeletePasswordButton{3195, 1740, 1950, 330};
inline constexpr QRectF kVersionLabel{195, 1785, 1110, 240};
// Under the password panel, on the cover, while a restore can be undone from the locked window.
inline constexpr QRectF kUndoRestoreButton{0, 0, 2580, 390};
inline constexpr double kUndoRestoreGap = 120;
inline constexpr QRectF kCover{4065, 825, 2190, 3420};
inline constexpr QRectF kCoverLogo{0, 60, 1500, 1500};
inline constexpr QRectF kOnTopBox{105, 5085, 975, 210};
inline constexpr QRectF kOneClickBox{1125, 5085, 870, 210};
inline constexpr QRectF kRevealBox{2175, 5055, 4500, 255};
inline constexpr QRectF kFocusMarker{45, 5070, 45, 195};
inline constexpr double kDesignWidth = 6735;
inline constexpr double kDesignHeight = 5340;

// Smallest outer size, and the size of a window never placed before.
inline constexpr double kMinimumWidth = 6300;
inline constexpr double kMinimumHeight = 3900;
inline constexpr double kFirstWidth = 9090;
inline constexpr double kFirstHeight = 4890;

struct Geometry {
    QRectF menuButton, smallLogo, enterItemsButton, list, cover, coverLogo, passwordPanel;
    QRectF onTopBox, oneClickBox, revealBox, undoRestoreButton;
    double focusMarkerTop = 0;
};

// The resize rules for an inner area of width w and height h.
Geometry compute(double w, double h, bool unlocked);

// The cover moved exactly over the list, its logo centred.
void coverTheList(Geometry& g);

QRect toPixels(const QRectF& twips);

// A stored window moved, never resized, into a screen's free area: all of it inside where it
// fits, else its top left at the area's, so that the title bar can always be reached.
QRect clampedInto(const QRect& window, const QRect& available);

} // namespace MainLayout
