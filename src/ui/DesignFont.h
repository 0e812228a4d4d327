#pragma once

#include <QFont>
#include <QList>

class QWidget;

// A font the windows were designed with, by name. Where the system lacks it, its general font
// stands in, narrowed to the stretch given for a narrow design font: left to fontconfig, a
// missing "Impact" can come back as a symbol font.
QFont designFont(const QString& family, qreal pointSize = -1, bool bold = false,
                 int standInStretch = QFont::Unstretched);

// The font's family name alone. Where fonts of one family come from several foundries, Qt names
// them "Family [Foundry]", a name no other system knows.
QString familyName(const QFont& font);

// A control with a caption, and the narrowest it gets, in pixels (-1: its present width).
struct CaptionedControl {
    QWidget* control;
    int narrowest = -1;
};

// The design sizes were made for fonts this system may lack, and a stand-in is often wider.
// Gives the controls the font of the first, narrowed and then made smaller step by step until
// every caption fits the room its control leaves for text; one font for all, so that they
// still look alike.
void fitCaptions(const QList<CaptionedControl>& controls);
