// A growable list of short tokens read from a name list file, searched as key and value pairs.
#pragma once

#include <cstddef>
#include <cstdint>

class CNameList {
public:
    static constexpr int32_t kEntryWidth = 128;        // bytes per entry
    static constexpr int32_t kLongestToken = 127;      // plus its zero byte
    static constexpr int32_t kInitialCapacity = 1000;  // entries after construction
    static constexpr int32_t kGrowthStep = 100;        // entries added when a load fills the list

    CNameList();
    virtual ~CNameList();
    CNameList(const CNameList&) = delete;
    CNameList& operator=(const CNameList&) = delete;

    void Release();
    // Adds n zero-filled entries, keeping every entry's index and text. 1 = done, 0 = no memory
    // (the list is unchanged).
    int Expand(int32_t n);
    int32_t GetCount() const { return count; }
    // The text of entry index, or null when index is outside 0 to count - 1.
    const char* GetItem(int32_t index) const;
    // Visits entries start, start + stride, ...; the first equal, non-empty one gives its index
    // divided by stride. -1 when none is equal.
    int32_t Find(const char* key, int32_t stride, int ignoreCase, int32_t start) const;
    // Appends the tokens of the file at path (every byte complemented when complemented is set).
    int LoadFile(const char* path, int complemented, int quiet);
    // Loads "init2\<name>.fxf" (complemented) when an entry "init2" exists, else or on failure
    // "init\<name>.xtx".
    int LoadByName(const char* name);

    // Length of the token at p: bytes up to a zero, blank, tab, comma, line feed or return.
    static int32_t TokenLength(const unsigned char* p);
    // Length of the separator at p: one leading comma, then blanks, tabs and line ends.
    static int32_t SeparatorLength(const unsigned char* p);

    int32_t capacity;
    int32_t count;
    char* entries;
    uint32_t flags;
};

// The init2 probe: not yet probed, absent or present; probed once per process.
enum class Init2Probe { NotProbed, Absent, Present };
extern Init2Probe g_init2Probe;

void ResetNameListProbe();
