#pragma once

#include <QFont>

// A font the windows were designed with, by name. Where the system lacks it, its general font
// stands in, narrowed to the stretch given for a narrow design font: left to fontconfig, a
// missing "Impact" can come back as a symbol font.
QFont designFont(const QString& family, qreal pointSize = -1, bool bold = false,
                 int standInStretch = QFont::Unstretched);
