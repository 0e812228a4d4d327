#include "SingleLineValidator.h"

#include "store/ItemLimits.h"

QValidator::State SingleLineValidator::validate(QString& input, int& pos) const
{
    const auto removed = [](QChar c) {
        return firstControlCharacter(QStringView(&c, 1)) == 0;
    };
    qsizetype kept = 0;
    int newPos = pos;
    for (qsizetype i = 0; i < input.size(); ++i) {
        if (!removed(input.at(i)))
            input[kept++] = input.at(i);
        else if (i < pos)
            --newPos;
    }
    input.truncate(kept);
    pos = newPos;
    return Acceptable;
}
