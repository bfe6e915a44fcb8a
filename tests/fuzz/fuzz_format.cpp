// Bounded formatter: any format and arguments of any length, into buffers of any size, give the
// reference text cut at size - 1 bytes, never a byte past the buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const std::size_t bufferSize = 1 + (data[0] | (data[1] << 8)) % 1100;
    // The input holds a format, then two texts and a number, separated by zero bytes.
    const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t end = input.find('\0', start);
        parts.push_back(input.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? input.size() : end + 1;
    }
    const std::string& format = parts[0];
    const int32_t number = static_cast<int32_t>(std::strtol(parts[2].c_str(), nullptr, 10));

    std::vector<char> out(bufferSize + 16, 'X');
    const std::size_t written =
        FormatText(out.data(), bufferSize, format.c_str(), parts[1].c_str(), number, parts[2].c_str());
    for (std::size_t i = bufferSize; i < out.size(); ++i) {
        if (out[i] != 'X') std::abort();
    }

    // Reference: "%s" takes the next argument if it is a text, "%d" if it is a number.
    std::string expected;
    const FormatArg args[] = {parts[1].c_str(), number, parts[2].c_str()};
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            expected += format[i];
        } else if (i + 1 < format.size() && (format[i + 1] == 's' || format[i + 1] == 'd')) {
            const FormatArg* arg = next < 3 ? &args[next++] : nullptr;
            if (format[i + 1] == 's') {
                if (arg != nullptr && arg->IsText()) expected += arg->Text();
            } else {
                expected += std::to_string(arg != nullptr && !arg->IsText() ? arg->Number() : 0);
            }
            ++i;
        } else if (i + 1 < format.size() && format[i + 1] == '%') {
            expected += '%';
            ++i;
        } else {
            expected += '%';
        }
    }
    expected = expected.substr(0, bufferSize - 1);
    if (written != expected.size() || std::memcmp(out.data(), expected.c_str(), expected.size() + 1) != 0) {
        std::abort();
    }
    return 0;
}
