#include "trace.h"

#include <windows.h>

#include <cstdio>

namespace {
std::wstring ToWide(const std::string& bytes, UINT codePage) {
    if (bytes.empty()) return std::wstring();
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], length);
    return wide;
}
}  // namespace

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], length, nullptr, nullptr);
    return utf8;
}

std::string Cp932ToUtf8(const std::string& bytes) { return WideToUtf8(ToWide(bytes, 932)); }

std::wstring Utf8ToWide(const std::string& text) { return ToWide(text, CP_UTF8); }

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

Event::Event(const char* kind) : json_("{\"ev\":" + JsonString(kind)) {}

Event& Event::AddRaw(const char* key, const std::string& json) {
    json_ += "," + JsonString(key) + ":" + json;
    return *this;
}

Event& Event::Add(const char* key, const std::string& utf8) { return AddRaw(key, JsonString(utf8)); }

Event& Event::Add(const char* key, int64_t number) { return AddRaw(key, std::to_string(number)); }

Event& Event::Add(const char* key, bool value) { return AddRaw(key, value ? "true" : "false"); }

const std::string& Event::Json() {
    if (!closed_) {
        json_ += "}";
        closed_ = true;
    }
    return json_;
}

bool Trace::Open(const std::wstring& path) {
    file_ = _wfopen(path.c_str(), L"wb");
    return file_ != nullptr;
}

void Trace::Write(Event& event) {
    if (file_ == nullptr) return;
    std::fputs(event.Json().c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

Trace::~Trace() {
    if (file_ != nullptr) std::fclose(file_);
}
