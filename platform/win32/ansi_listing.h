// A folder listing that gives each name in the ANSI code page, as FindFirstFileA does, and also
// says when that form is not the file's real name (a character the code page cannot hold, which
// the ANSI listing replaces by '?' or by a look-alike such as 'e' for 'é').
#pragma once

#include <windows.h>

#include "platform/platform.h"

// INVALID_HANDLE_VALUE when nothing is found.
HANDLE OpenAnsiListing(const char* pattern, platform::ListingEntry* entry);
bool NextAnsiEntry(HANDLE listing, platform::ListingEntry* entry);
