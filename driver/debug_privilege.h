// Enabling "SeDebugPrivilege" for the process walk and removing it afterwards.
#pragma once

#include <windows.h>

// Opens the process token (TOKEN_ADJUST_PRIVILEGES) into *token and enables the
// privilege; on true the token stays open and *privileges holds the one entry.
// Only the calls' own results count: a token without the privilege still gives true.
bool EnableDebugPrivilege(HANDLE* token, TOKEN_PRIVILEGES* privileges);

// Removes the privilege from the token (it cannot be enabled again) and closes the
// token once past the argument check; returns whether the adjustment call succeeded.
bool DropDebugPrivilege(HANDLE token, TOKEN_PRIVILEGES* privileges);
