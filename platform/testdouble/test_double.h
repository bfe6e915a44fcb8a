// The scriptable stand-in for Windows that the host build links. Tests set its state (registry,
// answers to message boxes, existing mutexes, short names, attribute bits, injected failures)
// and read back what the program did. Files and folders are real, in the test's working folder;
// backslashes in paths are read as slashes, and a listing is given in byte order of the names.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace testdouble {

struct MessageBoxRecord {
    std::string text;     // the bytes passed
    std::string caption;  // the bytes passed
    unsigned style;
};

struct State {
    // Message boxes, in order, and the answers to give. With no answer queued a box is answered
    // kIdOk, so an unexpected question is a visible failure of the test (OK is neither Yes nor
    // an answer that a Yes/No box can give).
    std::vector<MessageBoxRecord> boxes;
    std::deque<int> answers;

    // Everything with an order worth checking: "box <caption>", "registry open <hive> <subkey>",
    // "mutex create <name>", "mutex exists <name>", "mutex release", "dialog create <id>",
    // "dialog show", "dialog destroy", "copy <src> -> <dst>", "set attributes <path> <bits>".
    std::vector<std::string> events;

    // Registry: keys as "HKCU\<subkey>" or "HKLM\<subkey>", compared without regard to case.
    std::map<std::string, std::map<std::string, std::string>> registry;

    std::map<std::string, std::string> shortPaths;  // path -> short form; others fail
    std::set<std::string> existingMutexes;
    bool mutexCreationFails = false;

    // Attribute bits of files and folders, by path with slashes; a file not named here has
    // FILE_ATTRIBUTE_ARCHIVE (0x20), a folder FILE_ATTRIBUTE_DIRECTORY.
    std::map<std::string, uint32_t> attributes;
    // Destinations whose next copies fail (count of failures still to give), as a file held
    // open by another process makes them fail.
    std::map<std::string, int> heldDestinations;
    // Names the listing gives as lost: the ANSI code page cannot hold the file's real name.
    std::set<std::string> lostNames;
    bool attributeReadFails = false;
    bool attributeWriteFails = false;
    int openListings = 0;
    int maxOpenListings = 0;

    // The progress window.
    bool dialogCreationFails = false;
    int32_t screenWidth = 1024;
    int32_t screenHeight = 768;
    platform::Rect windowRect{0, 0, 320, 225};
    bool windowMoved = false;
    platform::Rect movedTo{};
    std::vector<int> itemRequests;              // control ids, in the order asked for
    std::vector<std::string> labelTexts;        // every text set on control 1003
    std::map<int, std::vector<int32_t>> barPositions;  // control id -> positions sent
    int labelRepaints = 0;
    std::vector<intptr_t> endDialogResults;
};

State& Double();
// Back to an empty registry, no boxes, no answers and so on.
void ResetDouble();

void SetRegistryString(const std::string& hiveAndKey, const std::string& valueName, const std::string& text);
void SetRegistryBytes(const std::string& hiveAndKey, const std::string& valueName, const std::string& bytes);

// The window handle of the progress window when one exists, for driving its procedure.
platform::Window DialogWindow();
platform::Window ControlHandle(int id);

}  // namespace testdouble
