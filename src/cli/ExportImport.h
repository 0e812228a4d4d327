#pragma once

#include "CliSupport.h"

// Moving entries to another password manager and from one: export writes every entry, its
// password in clear, in a format the other reads; import adds the entries of another's export.
extern const Command kExportCommand;
extern const Command kImportCommand;
