// Helpers shared by the unit tests: expected texts in code page 932, a private working folder,
// and a clean process state for every test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testdouble/test_double.h"

// The code page 932 bytes of a UTF-8 text, converted here with iconv: independent of how the
// product's own literals were converted.
std::string Cp932(const std::string& utf8);
// The UTF-8 text of code page 932 bytes, for readable failure messages.
std::string Utf8(const std::string& cp932);

// Boxes as readable lines, so that a mismatch shows what the player would have seen.
std::string DescribeBoxes(const std::vector<testdouble::MessageBoxRecord>& boxes);
// One box (bytes as the program passes them) as DescribeBoxes shows it.
std::string DescribeBox(const std::string& text, const std::string& caption, unsigned style);

// A fresh temporary folder that is the working directory while the object lives.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
};

// Writes bytes to path (relative to the working directory), creating missing folders.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void MakeFolder(const std::string& path);

// Every test starts as a fresh process would: program state and test double reset, and a
// temporary working folder.
class ProgramTest : public ::testing::Test {
protected:
    ProgramTest();
    ~ProgramTest() override;
    testdouble::State& Os() { return testdouble::Double(); }
    // As a new process starts, for the next row of a table of runs (same working folder).
    void FreshProcess();

    TempFolder folder_;
};
