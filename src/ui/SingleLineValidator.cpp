#include "SingleLineValidator.h"

QValidator::State SingleLineValidator::validate(QString& input, int& pos) const
{
    const auto lineBreak = [](QChar c) {
        return c == u'\r' || c == u'\n';
    };
    qsizetype kept = 0;
    int newPos = pos;
    for (qsizetype i = 0; i < input.size(); ++i) {
        if (!lineBreak(input.at(i)))
            input[kept++] = input.at(i);
        else if (i < pos)
            --newPos;
    }
    input.truncate(kept);
    pos = newPos;
    return Acceptable;
}
