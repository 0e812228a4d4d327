#pragma once

#include "CliSupport.h"

// The reading commands: list and show. Nothing is ever written.
extern const Command kListCommand;
extern const Command kShowCommand;
