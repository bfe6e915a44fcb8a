// The setting table: the sixteen keys that "info.txt" may set, and the reader that fills it once
// at start. Every later stage only reads it, by the slot index of its key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int kSettingSlotCount = 16;
constexpr std::size_t kSettingFieldSize = 256;
constexpr std::size_t kMaxSettingValueLength = 254;  // followed by two zero bytes
constexpr std::size_t kMaxTokenLength = 255;         // a longer token reads as an empty one

// Key names in slot order; values and present flags, addressed by slot index.
extern const char kSettingKeyNames[kSettingSlotCount][kSettingFieldSize];
extern char g_settingValues[kSettingSlotCount][kSettingFieldSize];
extern int32_t g_settingPresent[kSettingSlotCount];

// Slot indexes of the twelve keys the program reads, set by ResolveSettingSlots.
extern int g_slotReg;
extern int g_slotMutex;
extern int g_slotDir;
extern int g_slotGameName;
extern int g_slotResult;
extern int g_slotCompanyName;
extern int g_slotReadOnly;
extern int g_slotVersionCheck;
extern int g_slotLowVersion;
extern int g_slotHighVersion;
extern int g_slotCopyNumber;
extern int g_slotCurrentUser;

// The slot (1 to 15) whose key name equals name, ASCII case folded; 0 when none does.
int FindSettingSlot(const char* name);
// The slot (0 to 15, "dummy" included) that a key read from info.txt sets; -1 for none.
int FindKeySlot(const char* key);
void ResolveSettingSlots();
// Reads "info.txt" of the working directory into the table. 1 = read, 0 = it cannot be opened
// (the table is then left as it was).
int ReadInfoFile();
// Fills the table from an open file (raw mode), as ReadInfoFile does after opening it.
void ReadInfoFrom(std::FILE* file);

inline bool IsSettingPresent(int slot) { return g_settingPresent[slot] != 0; }
inline const char* SettingValue(int slot) { return g_settingValues[slot]; }

// Empties the table and the slot indexes, as at process start.
void ResetSettings();

// ---- Text rules shared by the settings and the name lists ----

// Byte strings equal when 'A'-'Z' and 'a'-'z' are folded; every other byte must match exactly.
bool EqualsIgnoringAsciiCase(const char* a, const char* b);

// The leading decimal integer as atoi reads it (leading white space, one sign, digits; 0 when
// there are no digits), with values beyond the signed 32-bit range clamped to the nearest limit.
int32_t ReadNumber(const char* text);
