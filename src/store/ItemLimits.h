#pragma once

#include <QStringView>

// How many characters the boxes of the windows take. One character is one byte in the files, so
// every item stays well inside its stored field.
constexpr int kShortItemLength = 96;      // page title, user name, password (Enter Items)
constexpr int kUrlLength = 400;           // URL address (Enter Items)
constexpr int kMasterPasswordLength = 96; // the main window's password box

// Where the first character an item may not hold is, or -1: the C0 controls but tab, and DEL.
// None can be typed into a box; each is invisible in the window, a terminal acts on it, and a
// NUL ends the item for a reader in C. Tab stays: a pasted password may hold one.
inline qsizetype firstControlCharacter(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if ((c < 0x20 && c != u'\t') || c == 0x7F)
            return i;
    }
    return -1;
}
