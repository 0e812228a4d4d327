#include "DesignFont.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>

#include <array>

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

QString familyName(const QFont& font)
{
    static const QRegularExpression foundry(QStringLiteral("^(.*\\S)\\s+\\[[^\\[\\]]*\\]$"));
    const QString family = font.family();
    const QRegularExpressionMatch match = foundry.match(family);
    return match.hasMatch() ? match.captured(1) : family;
}

namespace {

constexpr std::array<int, 4> kStretches = {QFont::Unstretched, QFont::SemiCondensed,
                                           QFont::Condensed, QFont::ExtraCondensed};
constexpr qreal kSmallestPointSize = 6;
constexpr qreal kPointSizeStep = 0.5;

// The caption as drawn: where "&" marks an access key, "&&" shows one "&" and a single "&" is
// not drawn.
QString shownCaption(const QWidget* w)
{
    QString caption;
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        if (!label->buddy())
            return label->text();
        caption = label->text();
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        caption = button->text();
    }
    QString shown;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == u'&' && i + 1 < caption.size())
            ++i;
        shown += caption.at(i);
    }
    return shown;
}

// The room a control width pixels wide leaves for its caption: what its style puts around the
// text of a button or beside the box of a check box.
int roomForCaption(const QWidget* w, int width)
{
    QStyleOptionButton option;
    option.initFrom(w);
    option.rect.setWidth(width);
    QStyle* style = w->style();
    if (const auto* push = qobject_cast<const QPushButton*>(w)) {
        if (push->isDefault())
            option.features |= QStyleOptionButton::DefaultButton;
        if (push->autoDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
        return style->subElementRect(QStyle::SE_PushButtonContents, &option, w).width() -
               style->pixelMetric(QStyle::PM_ButtonMargin, &option, w);
    }
    if (qobject_cast<const QCheckBox*>(w))
        return style->subElementRect(QStyle::SE_CheckBoxContents, &option, w).width();
    if (const auto* label = qobject_cast<const QLabel*>(w))
        return label->contentsRect().width() + width - label->width() - 2 * label->margin() -
               std::max(label->indent(), 0);
    return width;
}

} // namespace

void fitCaptions(const QList<CaptionedControl>& controls)
{
    if (controls.isEmpty())
        return;
    const QFont start = controls.first().control->font();
    const auto fits = [&controls](const QFont& font) {
        const QFontMetrics metrics(font);
        return std::all_of(controls.begin(), controls.end(), [&](const CaptionedControl& c) {
            const int width = c.narrowest >= 0 ? c.narrowest : c.control->width();
            return metrics.horizontalAdvance(shownCaption(c.control)) <=
                   roomForCaption(c.control, width);
        });
    };
    QFont font = start;
    bool fitted = fits(font);
    const int startStretch = start.stretch() > 0 ? start.stretch() : int(QFont::Unstretched);
    for (int stretch : kStretches) {
        if (fitted)
            break;
        if (stretch >= startStretch)
            continue;
        font.setStretch(stretch);
        fitted = fits(font);
    }
    for (qreal size = font.pointSizeF() - kPointSizeStep; !fitted && size >= kSmallestPointSize;
         size -= kPointSizeStep) {
        font.setPointSizeF(size);
        fitted = fits(font);
    }
    for (const CaptionedControl& c : controls)
        c.control->setFont(font);
}
