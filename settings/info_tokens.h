// The tokens of info.txt, as the setting reader sees them. Also used by tools that must read the
// file exactly as the updater does.
#pragma once

#include <cstddef>
#include <cstdio>

#include "settings/settings.h"

struct InfoToken {
    char text[kMaxTokenLength + 1];  // zero-terminated; a zero byte in the file ends it early
    std::size_t bytes;               // bytes of the file the token took (whitespace excluded)
    bool overLong;                   // more than kMaxTokenLength bytes: text is empty
};

// Reads a file opened in raw mode by the text-mode rules, so that every build reads the same
// file the same way: a carriage return right before a line feed is dropped, and byte 0x1A ends
// the file. Whitespace is 0x09 to 0x0D and 0x20.
class InfoTokenReader {
public:
    explicit InfoTokenReader(std::FILE* file) : file_(file) {}
    InfoTokenReader(const InfoTokenReader&) = delete;
    InfoTokenReader& operator=(const InfoTokenReader&) = delete;

    // The next token; false at the end of the file. A token longer than kMaxTokenLength is not
    // taken: its first kMaxTokenLength + 1 bytes are consumed and an empty token stands in their
    // place; the bytes after them are read as the next token.
    bool Read(InfoToken* token);

private:
    static constexpr int kNone = -2;
    int Next();
    int NextRaw();

    std::FILE* file_;
    unsigned char buffer_[16 * 1024] = {};
    std::size_t position_ = 0;
    std::size_t length_ = 0;
    int pending_ = kNone;
    bool ended_ = false;
};

// A token that begins with "//" where a key is expected.
inline bool IsCommentToken(const InfoToken& token) { return token.text[0] == '/' && token.text[1] == '/'; }
