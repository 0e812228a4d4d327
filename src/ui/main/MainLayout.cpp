#include "MainLayout.h"

#include "ui/Twips.h"

#include <algorithm>

namespace MainLayout {

namespace {
void centreCoverLogo(Geometry& g)
{
    g.coverLogo = QRectF((g.cover.width() - kCoverLogo.width()) / 2,
                         (g.cover.height() - kCoverLogo.height()) / 2, kCoverLogo.width(),
                         kCoverLogo.height());
}
} // namespace

Geometry compute(double w, double h, bool unlocked)
{
    Geometry g;
    g.menuButton = kMenuButton;
    g.menuButton.setWidth((w - 2865) * 0.333);
    g.smallLogo = kSmallLogo;
    g.smallLogo.moveLeft(g.menuButton.left() + g.menuButton.width() + 240);
    g.enterItemsButton = kEnterItemsButton;
    g.enterItemsButton.moveLeft(g.smallLogo.left() + g.smallLogo.width() + 225);
    g.enterItemsButton.setWidth((w - 2865) * 0.666);

    g.list = QRectF(kList.left(), kList.top(), w - 120, h - 900);

    if (unlocked)
        g.cover = g.list;
    else
        g.cover = QRectF(0, 0, w, h);
    centreCoverLogo(g);

    g.revealBox = QRectF(kRevealBox.left(), h - 285, w - 2265, kRevealBox.height());
    g.onTopBox = kOnTopBox;
    g.onTopBox.moveTop(h - 270);
    g.oneClickBox = kOneClickBox;
    g.oneClickBox.moveTop(g.onTopBox.top());
    g.focusMarkerTop = g.onTopBox.top() + 15;

    g.passwordPanel = QRectF((w - kPasswordPanel.width()) / 2, (h - kPasswordPanel.height()) / 2,
                             kPasswordPanel.width(), kPasswordPanel.height());
    g.undoRestoreButton =
        QRectF((w - kUndoRestoreButton.width()) / 2, g.passwordPanel.bottom() + kUndoRestoreGap,
               kUndoRestoreButton.width(), kUndoRestoreButton.height());
    return g;
}

void coverTheList(Geometry& g)
{
    g.cover = g.list;
    centreCoverLogo(g);
}

QRect toPixels(const QRectF& twips)
{
    return QRect(twipsToPixels(twips.left()), twipsToPixels(twips.top()),
                 std::max(0, twipsToPixels(twips.width())),
                 std::max(0, twipsToPixels(twips.height())));
}

QRect clampedInto(const QRect& window, const QRect& available)
{
    const auto fit = [](int at, int size, int areaStart, int areaSize) {
        return std::max(std::min(at, areaStart + areaSize - size), areaStart);
    };
    return QRect(fit(window.x(), window.width(), available.x(), available.width()),
                 fit(window.y(), window.height(), available.y(), available.height()),
                 window.width(), window.height());
}

} // namespace MainLayout
