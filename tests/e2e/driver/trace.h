// The driver's trace: one JSON object per line, UTF-8, written to a file and flushed after
// every event so that a killed run still leaves what it saw.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Text conversions. The updater's texts are code page 932 bytes; the trace is UTF-8.
std::string Cp932ToUtf8(const std::string& bytes);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// Builds one event: Event("box").Add("caption", c).Add("n", 1).Write(trace).
class Event {
public:
    explicit Event(const char* kind);
    Event& Add(const char* key, const std::string& utf8);
    Event& Add(const char* key, const char* utf8) { return Add(key, std::string(utf8)); }
    Event& Add(const char* key, int64_t number);
    Event& Add(const char* key, bool value);
    // A value that is already JSON (an array or an object).
    Event& AddRaw(const char* key, const std::string& json);
    const std::string& Json();

private:
    std::string json_;
    bool closed_ = false;
};

std::string JsonString(const std::string& utf8);

class Trace {
public:
    bool Open(const std::wstring& path);
    void Write(Event& event);
    ~Trace();

private:
    std::FILE* file_ = nullptr;
};
