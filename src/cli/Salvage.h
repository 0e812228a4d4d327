#pragma once

#include "CliSupport.h"

// The way out when a load stops at a damaged record: every record that can still be read,
// copied into a new link file.
extern const Command kSalvageCommand;
