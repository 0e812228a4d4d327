#pragma once

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>

// Whether the captions of a window fit their controls: every visible button, check box and
// label with text below root, measured in the control's own font against the room its style
// leaves for text. Gives one line for each caption that does not fit.
namespace CaptionFit {

// The caption as shown: "&&" is one "&", a single "&" marks the access key and is not drawn.
inline QString shownText(const QString& caption)
{
    QString shown;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == u'&' && i + 1 < caption.size())
            ++i;
        shown += caption.at(i);
    }
    return shown;
}

inline QStyleOptionButton buttonOption(const QAbstractButton* b)
{
    QStyleOptionButton option;
    option.initFrom(b);
    option.text = b->text();
    if (const auto* push = qobject_cast<const QPushButton*>(b)) {
        if (push->isDefault())
            option.features |= QStyleOptionButton::DefaultButton;
        if (push->autoDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
    }
    return option;
}

// The width the control leaves for its text, in pixels.
inline int roomForText(const QWidget* w)
{
    QStyle* style = w->style();
    if (const auto* push = qobject_cast<const QPushButton*>(w)) {
        // What the style adds around a button's text when it sizes one: its margin and frame.
        const QStyleOptionButton option = buttonOption(push);
        const QRect contents = style->subElementRect(QStyle::SE_PushButtonContents, &option, w);
        return contents.width() - style->pixelMetric(QStyle::PM_ButtonMargin, &option, w);
    }
    if (const auto* check = qobject_cast<const QCheckBox*>(w)) {
        const QStyleOptionButton option = buttonOption(check);
        return style->subElementRect(QStyle::SE_CheckBoxContents, &option, w).width();
    }
    if (const auto* label = qobject_cast<const QLabel*>(w))
        return label->contentsRect().width() - 2 * label->margin() - qMax(label->indent(), 0);
    return w->width();
}

inline QString captionOf(const QWidget* w)
{
    if (const auto* b = qobject_cast<const QAbstractButton*>(w))
        return shownText(b->text());
    if (const auto* label = qobject_cast<const QLabel*>(w))
        return label->buddy() ? shownText(label->text()) : label->text();
    return {};
}

inline QStringList captionsThatDoNotFit(const QWidget* root)
{
    QStringList misfits;
    const QList<QWidget*> controls = root->findChildren<QWidget*>();
    for (const QWidget* w : controls) {
        if (!qobject_cast<const QAbstractButton*>(w) && !qobject_cast<const QLabel*>(w))
            continue;
        const QString caption = captionOf(w);
        if (caption.isEmpty() || !w->isVisibleTo(root))
            continue;
        const QFontMetrics metrics(w->font());
        const int needed = metrics.horizontalAdvance(caption);
        const int room = roomForText(w);
        if (needed > room)
            misfits << QStringLiteral("%1 \"%2\": %3 px of text, room for %4 (%5)")
                           .arg(w->objectName(), caption)
                           .arg(needed)
                           .arg(room)
                           .arg(w->font().toString());
    }
    return misfits;
}

} // namespace CaptionFit
