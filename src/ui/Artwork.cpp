#include "Artwork.h"

#include <QPainter>

namespace Artwork {

namespace {
QPixmap blank(int w, int h, const QColor& fill)
{
    QPixmap p(w, h);
    p.fill(fill);
    return p;
}
} // namespace

QIcon programIcon()
{
    return QIcon(blank(64, 64, QColor(40, 70, 120)));
}

QPixmap smallLogo()
{
    return blank(144, 34, QColor(40, 70, 120));
}

QPixmap panelLogo()
{
    return blank(369, 160, QColor(220, 228, 240));
}

QPixmap coverLogo()
{
    return blank(100, 100, QColor(40, 70, 120));
}

QPixmap passwordPrompt()
{
    return blank(320, 26, QColor(220, 228, 240));
}

QPixmap rowPicture()
{
    return blank(13, 13, QColor(40, 70, 120));
}

} // namespace Artwork
