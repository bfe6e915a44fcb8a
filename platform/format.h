// Bounded text formatting in the manner of wsprintfA, limited to "%s" and "%d".
// Used by both builds: Windows' own wsprintfA cannot be told that a buffer is smaller than
// 1024 bytes, and a formatter that knows the buffer's size cannot overflow it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

class FormatArg {
public:
    FormatArg(const char* text) : text_(text), number_(0), isText_(true) {}  // NOLINT: implicit by design
    FormatArg(int32_t number) : text_(nullptr), number_(number), isText_(false) {}  // NOLINT

    bool IsText() const { return isText_; }
    const char* Text() const { return text_; }
    int32_t Number() const { return number_; }

private:
    const char* text_;
    int32_t number_;
    bool isText_;
};

// Writes format into out (size bytes, at least 1) with each "%s" taking the next text and each
// "%d" the next number; "%%" gives one '%'. Output that does not fit is cut at size - 1 bytes,
// byte-wise as wsprintfA cuts, and a zero byte always ends it. A missing or mismatched argument
// gives an empty text or 0, never a read out of bounds. Returns the number of bytes written,
// terminator excluded.
std::size_t FormatTextList(char* out, std::size_t size, const char* format,
                           std::initializer_list<FormatArg> args);

template <typename... Args>
std::size_t FormatText(char* out, std::size_t size, const char* format, Args... args) {
    return FormatTextList(out, size, format, {FormatArg(args)...});
}
