#pragma once

#include <QProxyStyle>

// Shows every character of a password box as "o".
class PasswordStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return 'o';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};
