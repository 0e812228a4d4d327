#include "DesignFont.h"

#include <QFontDatabase>

QFont designFont(const QString& family, qreal pointSize, bool bold, int standInStretch)
{
    QFont font(family);
    if (!QFontDatabase::hasFamily(family)) {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setStretch(standInStretch);
    }
    if (pointSize > 0)
        font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}
