// Finding the game's installation folder in the registry.
#pragma once

#include <cstddef>

constexpr std::size_t kTextBufferSize = 1024;      // every formatted text and joined path
constexpr std::size_t kRegistryDataSize = 256;     // what the registry read may fill

extern char g_registrySubkey[kTextBufferSize];
// The folder as the registry stores it (shown in the confirmation), and its short form (the
// destination root of the copy; the stored form when no short form was obtained).
extern char g_installDirectoryStored[kTextBufferSize];
extern char g_installDirectoryShort[kTextBufferSize];

// Composes "Software\<companyName>\<reg>" or "Software\kiv\<reg>" into out, then turns each '?'
// into a space, passing over the byte after any byte of 0x80 or above.
void ComposeRegistrySubkey(char* out, std::size_t size);

// 1 when "installdirectory" was read, with both forms set; 0 when the game counts as not installed.
int LookUpInstallDirectory();
void ShowNotInstalledMessage();

void ResetInstallDirectory();
