#include "tests/unit/support/test_support.h"

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/run_sequence.h"

namespace {

std::string Convert(const std::string& text, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* outPtr = &out[0];
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (result == static_cast<std::size_t>(-1)) throw std::runtime_error("iconv failed");
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

std::string Cp932(const std::string& utf8) { return Convert(utf8, "CP932", "UTF-8"); }

std::string Utf8(const std::string& cp932) {
    try {
        return Convert(cp932, "UTF-8", "CP932");
    } catch (const std::runtime_error&) {
        return cp932;
    }
}

std::string DescribeBoxes(const std::vector<testdouble::MessageBoxRecord>& boxes) {
    std::string lines;
    for (const auto& box : boxes) {
        lines += "[" + Utf8(box.caption) + "] " + Utf8(box.text) + " style " + std::to_string(box.style) + "\n";
    }
    return lines;
}

std::string DescribeBox(const std::string& text, const std::string& caption, unsigned style) {
    return DescribeBoxes({{text, caption, style}});
}

TempFolder::TempFolder() {
    char name[] = "/tmp/updater-test-XXXXXX";
    if (::mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = name;
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) throw std::runtime_error("getcwd failed");
    previous_ = cwd;
    if (::chdir(path_.c_str()) != 0) throw std::runtime_error("chdir failed");
}

TempFolder::~TempFolder() {
    if (::chdir(previous_.c_str()) != 0) std::abort();
    const std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) std::abort();
}

void MakeFolder(const std::string& path) {
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        partial += part;
        if (!partial.empty()) ::mkdir(partial.c_str(), 0755);
        partial += '/';
    }
}

void WriteFile(const std::string& path, const std::string& bytes) {
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos) MakeFolder(path.substr(0, slash));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

ProgramTest::ProgramTest() { FreshProcess(); }

ProgramTest::~ProgramTest() { FreshProcess(); }

void ProgramTest::FreshProcess() {
    ResetProcessState();
    testdouble::ResetDouble();
}
