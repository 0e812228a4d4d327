#pragma once

#include "CliSupport.h"

// The commands that change entries or the master password: add, edit, rm, mv, passwd. Each
// takes the program's lock and writes through the same store operation as the windows.
extern const Command kAddCommand;
extern const Command kEditCommand;
extern const Command kRemoveCommand;
extern const Command kMoveCommand;
extern const Command kPasswdCommand;
