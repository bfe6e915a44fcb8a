#include "settings/info_tokens.h"

namespace {
bool IsSettingWhitespace(int c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
}  // namespace

int InfoTokenReader::Next() {
    const int c = NextRaw();
    if (c != '\r') return c;
    const int following = NextRaw();
    if (following == '\n') return '\n';
    pending_ = following;  // a lone carriage return stays
    return c;
}

int InfoTokenReader::NextRaw() {
    if (pending_ != kNone) {
        const int c = pending_;
        pending_ = kNone;
        return c;
    }
    if (ended_) return -1;
    if (position_ == length_) {
        position_ = 0;
        length_ = std::fread(buffer_, 1, sizeof buffer_, file_);
        if (length_ == 0) {
            ended_ = true;
            return -1;
        }
    }
    const unsigned char c = buffer_[position_++];
    if (c == 0x1A) {
        ended_ = true;
        return -1;
    }
    return c;
}

bool InfoTokenReader::Read(InfoToken* token) {
    // The whitespace byte that ends a token is consumed with it, which changes nothing: every
    // read starts by skipping whitespace.
    int c;
    do {
        c = Next();
    } while (c >= 0 && IsSettingWhitespace(c));
    if (c < 0) return false;
    std::size_t length = 0;
    for (;;) {
        if (length == kMaxTokenLength) {
            token->text[0] = '\0';
            token->bytes = kMaxTokenLength + 1;
            token->overLong = true;
            return true;
        }
        token->text[length++] = static_cast<char>(c);
        c = Next();
        if (c < 0 || IsSettingWhitespace(c)) break;
    }
    token->text[length] = '\0';
    token->bytes = length;
    token->overLong = false;
    return true;
}
