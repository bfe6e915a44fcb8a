#include "platform/format.h"

namespace {

class BoundedWriter {
public:
    BoundedWriter(char* out, std::size_t size) : out_(out), limit_(size - 1), length_(0) {}

    void Put(char c) {
        if (length_ < limit_) out_[length_++] = c;
    }
    void PutText(const char* text) {
        if (text == nullptr) return;
        while (*text != '\0' && length_ < limit_) out_[length_++] = *text++;
    }
    void PutNumber(int32_t number) {
        char digits[12];
        int count = 0;
        // Widen first: the magnitude of INT32_MIN does not fit a 32-bit int.
        int64_t magnitude = number;
        if (magnitude < 0) {
            Put('-');
            magnitude = -magnitude;
        }
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        while (count > 0) Put(digits[--count]);
    }
    std::size_t Finish() {
        out_[length_] = '\0';
        return length_;
    }

private:
    char* out_;
    std::size_t limit_;
    std::size_t length_;
};

}  // namespace

std::size_t FormatTextList(char* out, std::size_t size, const char* format,
                           std::initializer_list<FormatArg> args) {
    if (out == nullptr || size == 0) return 0;
    BoundedWriter writer(out, size);
    const FormatArg* next = args.begin();
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            writer.Put(*p);
            continue;
        }
        const char kind = p[1];
        if (kind == 's' || kind == 'd') {
            const FormatArg* arg = next != args.end() ? next++ : nullptr;
            if (kind == 's') {
                if (arg != nullptr && arg->IsText()) writer.PutText(arg->Text());
            } else {
                writer.PutNumber(arg != nullptr && !arg->IsText() ? arg->Number() : 0);
            }
            ++p;
        } else if (kind == '%') {
            writer.Put('%');
            ++p;
        } else {
            writer.Put('%');  // anything else is copied as it stands
        }
    }
    return writer.Finish();
}
