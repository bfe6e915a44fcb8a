// The copy of the update folder over the install folder, and the protected-file policy.
#pragma once

#include <cstdint>

extern int32_t g_filesCopied;  // files copied successfully in this run

// Copies every file under source over the same relative path under destination, depth-first
// in listing order. 1 = success, 0 = the first file that failed ended the walk.
int CopyTree(const char* source, const char* destination);
// Copies one file, asking about (or refusing) read-only, hidden and system destinations.
// Nonzero = copied.
int CopyOneFile(const char* sourcePath, const char* destinationPath);

void ResetTreeCopy();
