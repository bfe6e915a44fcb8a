#include "update/tree_copy.h"

#include <cstring>

#include "install/install_directory.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "resources/messages.h"
#include "settings/settings.h"
#include "update/progress_window.h"

int32_t g_filesCopied = 0;

namespace {

struct ProtectedBit {
    uint32_t bit;
    const char* prompt;
    const char* caption;
};

// Asked about in this order, one prompt per bit.
const ProtectedBit kProtectedBits[] = {
    {platform::kAttributeReadOnly, MSG_PROMPT_READ_ONLY, CAPTION_PROMPT_READ_ONLY},
    {platform::kAttributeHidden, MSG_PROMPT_HIDDEN, CAPTION_PROMPT_HIDDEN},
    {platform::kAttributeSystem, MSG_PROMPT_SYSTEM, CAPTION_PROMPT_SYSTEM},
};

// Frees the listing on every way out of a folder's walk.
class ListingCloser {
public:
    explicit ListingCloser(platform::Listing listing) : listing_(listing) {}
    ~ListingCloser() { platform::CloseListing(listing_); }
    ListingCloser(const ListingCloser&) = delete;
    ListingCloser& operator=(const ListingCloser&) = delete;

private:
    platform::Listing listing_;
};

// Joins folder and name with one backslash. false when the result would not fit: a cut path
// must never stand for another file or folder.
template <std::size_t N>
bool JoinPath(char (&out)[N], const char* folder, const char* name) {
    if (std::strlen(folder) + 1 + std::strlen(name) >= N) return false;
    FormatText(out, N, "%s\\%s", folder, name);
    return true;
}

}  // namespace

int CopyOneFile(const char* sourcePath, const char* destinationPath) {
    UpdateProgress(sourcePath);
    if (platform::CopyFileReplacing(sourcePath, destinationPath)) return 1;

    uint32_t attributes = platform::GetFileAttributeBits(destinationPath);
    // Unreadable attributes (the destination folder is missing, say) are no set of bits to
    // clear or write back: the file fails.
    if (attributes == platform::kInvalidAttributes) return 0;

    char prompt[kTextBufferSize];
    for (const ProtectedBit& item : kProtectedBits) {
        if ((attributes & item.bit) == 0) continue;
        if (!IsSettingPresent(g_slotReadOnly)) return 0;
        FormatText(prompt, sizeof prompt, item.prompt, destinationPath);
        if (platform::ShowMessageBox(prompt, item.caption, platform::kMbYesNo) != platform::kIdYes) return 0;
        attributes &= ~item.bit;
    }
    if (!platform::SetFileAttributeBits(destinationPath, attributes)) {
        platform::ShowMessageBox(MSG_ATTRIBUTES_FAILED, CAPTION_ATTRIBUTES_FAILED, platform::kMbIconWarning);
        return 0;
    }
    return platform::CopyFileReplacing(sourcePath, destinationPath) ? 1 : 0;
}

int CopyTree(const char* source, const char* destination) {
    // The pattern must fit the platform's path limit. A folder whose pattern would not fit fails
    // the copy: skipping it would report an incomplete update as a success.
    char pattern[platform::kMaxPath];
    if (!JoinPath(pattern, source, "*")) return 0;

    platform::ListingEntry entry{};
    const platform::Listing listing = platform::FindFirstEntry(pattern, &entry);
    if (listing == nullptr) return 1;  // a folder that cannot be listed has nothing to copy
    ListingCloser closer(listing);

    char sourcePath[kTextBufferSize];
    char destinationPath[kTextBufferSize];
    do {
        if (entry.name[0] == '.') continue;  // ".", ".." and every dot-named file or folder
        // A name the code page cannot hold would copy another file, or none, under a wrong name:
        // the update cannot be applied as shipped.
        if (entry.nameLost) return 0;
        if (!JoinPath(sourcePath, source, entry.name) || !JoinPath(destinationPath, destination, entry.name)) {
            return 0;
        }
        if ((entry.attributes & platform::kAttributeDirectory) != 0) {
            if (CopyTree(sourcePath, destinationPath) == 0) return 0;
        } else {
            if (CopyOneFile(sourcePath, destinationPath) == 0) return 0;
            ++g_filesCopied;
        }
    } while (platform::FindNextEntry(listing, &entry));
    return 1;
}

void ResetTreeCopy() { g_filesCopied = 0; }
