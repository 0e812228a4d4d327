#pragma once

#include <QValidator>

// Keeps a line edit to one line of text: the carriage returns, line feeds and other control
// characters but tab that a paste, a drop or a middle click bring in are removed; typed keys
// never bring them. Qt starts the box's undo history afresh when a validator changes its text,
// so an undo cannot bring them back either.
class SingleLineValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};
