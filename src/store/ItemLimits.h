#pragma once

// How many characters the boxes of the windows take. One character is one byte in the files, so
// every item stays well inside its stored field.
constexpr int kShortItemLength = 96;      // page title, user name, password (Enter Items)
constexpr int kUrlLength = 400;           // URL address (Enter Items)
constexpr int kMasterPasswordLength = 96; // the main window's password box
