// Name list loader: any bytes, plain or complemented, loaded once or twice into one list. The
// list keeps count <= capacity, every entry within its 128 bytes, and entries past count empty.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "namelist/name_list.h"
#include "platform/testdouble/test_double.h"

namespace {

const char* ScratchPath() {
    static char path[64];
    if (path[0] == '\0') std::snprintf(path, sizeof path, "/tmp/fuzz-namelist-%d.bin", static_cast<int>(getpid()));
    return path;
}

void Check(const CNameList& list) {
    if (list.count < 0 || list.count > list.capacity) std::abort();
    for (int32_t i = 0; i < list.capacity; ++i) {
        const char* entry = list.entries + static_cast<std::size_t>(i) * CNameList::kEntryWidth;
        if (std::memchr(entry, '\0', CNameList::kEntryWidth) == nullptr) std::abort();
        if (i >= list.count && entry[0] != '\0') std::abort();
    }
    if (list.GetItem(list.count) != nullptr || list.GetItem(-1) != nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    std::FILE* file = std::fopen(ScratchPath(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    testdouble::ResetDouble();
    CNameList list;
    const int complemented = mode & 1;
    if (list.LoadFile(ScratchPath(), complemented, 1) != 1) std::abort();
    Check(list);
    const int32_t first = list.count;
    if ((mode & 2) != 0) {
        if (list.LoadFile(ScratchPath(), complemented ^ ((mode >> 2) & 1), 1) != 1) std::abort();
        Check(list);
        if (list.count < first) std::abort();  // a load only appends
    }
    if (list.count > 0) {
        const char* key = list.GetItem(0);
        if (key[0] != '\0' && list.Find(key, 1, 0, 0) != 0) std::abort();
    }
    return 0;
}
