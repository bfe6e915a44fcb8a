// A scenario file: UTF-8 text, one instruction a line, fields separated by tabs (so that paths
// and registry keys may hold spaces). Lines starting with '#' and empty lines are ignored.
//
//   updater      <path of update.exe>
//   workdir      <working directory of the updater>
//   timeout_ms   <deadline for the whole run, default 20000>
//   reg          <HKCU|HKLM> <subkey> [<data of "installdirectory">]   (no data: the key alone)
//   hold_mutex   <name>          created and owned before the updater starts
//   attrib       <path> <letters R H S, or N for none>   set before the updater starts
//   hold_file    <path>          opened without sharing before the updater starts
//   short_path   <path>          records GetShortPathNameA of the path
//   attrib_after <path>          records the attributes of the path after the updater ended
//   listing      <folder>        records the folder's listing before the updater starts: the
//                                names as the ANSI listing gives them (bytes in hex too) and
//                                as the wide listing gives them, in listing order
//   instances    <N>             N updaters, created suspended and resumed together (default 1)
//   box          <answer> [<action>...]   the plan for the next message box, in order; each
//                                updater follows the plan on its own boxes
//   launched_plan                the box lines after it are the plan of updaters started by
//                                the action launch
//
// Answers: OK, CANCEL, YES, NO (the button's WM_COMMAND), ESC (WM_COMMAND IDCANCEL, what the
// dialog manager sends for the Esc key), ESCKEY (WM_KEYDOWN/WM_KEYUP VK_ESCAPE posted to the
// box, so its own dialog handling turns it into IDCANCEL), CLOSE (WM_CLOSE, the title bar's X),
// NONE (leave the box up: the run then ends at the deadline, killed).
// Actions, run before the answer: release_files (closes every held file), release_named (closes
// the held files whose path the box's text shows, case ignored), probe_mutex=<name>
// (records whether the mutex exists and can be taken at once; taken means released again),
// wait_for=<path> (answers only once that file exists, e.g. after a screenshot of the box),
// move_to=<x>,<y> (moves the box, e.g. to show the progress window beside it), together (the
// answer waits until every updater still running shows a box held by together, then all are
// answered at once), launch (starts one more updater on the launched plan and answers this box
// only once that updater has ended).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RegistrySetup {
    std::string hive;  // "HKCU" or "HKLM"
    std::wstring subkey;
    bool hasValue = false;
    std::wstring data;
};

struct AttributeSetup {
    std::wstring path;
    uint32_t attributes = 0;
};

struct BoxPlan {
    std::string answer;
    bool releaseFiles = false;
    bool releaseNamed = false;
    std::vector<std::wstring> probeMutexes;
    std::wstring waitFor;
    bool move = false;
    int moveX = 0;
    int moveY = 0;
    bool together = false;
    bool launch = false;
};

struct Scenario {
    std::wstring updater;
    std::wstring workdir;
    uint32_t timeoutMs = 20000;
    std::vector<RegistrySetup> registry;
    std::vector<std::wstring> heldMutexes;
    std::vector<AttributeSetup> attributes;
    std::vector<std::wstring> heldFiles;
    std::vector<std::wstring> shortPaths;
    std::vector<std::wstring> attributesAfter;
    std::vector<std::wstring> listings;
    uint32_t instances = 1;
    std::vector<BoxPlan> boxes;
    std::vector<BoxPlan> launchedBoxes;  // the plan of updaters started by launch
    bool inLaunchedPlan = false;         // while reading: box lines go to launchedBoxes
};

// false with a reason in *error (UTF-8) when the file cannot be read or a line is malformed.
bool LoadScenario(const std::wstring& path, Scenario* scenario, std::string* error);
