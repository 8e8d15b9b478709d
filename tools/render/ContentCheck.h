#pragma once
// What the render tool finds out about loaded content by itself: the plug-in's console
// messages, the instrument file a program names, and the parts of an SFZ file that would
// play nothing.
#include <string>
#include <vector>

namespace corvane::render {

// The lines of captured console text, without their line ends; empty lines are dropped.
std::vector<std::string> splitLines(const std::string& text);

// Whether a console line of the plug-in reports a loading problem: a "CAPTION: TEXT" line
// whose caption contains "Error" ("Error: File not found (...)", "REX Error: ...").
bool isErrorLine(const std::string& line);

// Stored paths use backslashes. On a system whose separator is '/', a path in a message is
// shown the way the system spells it; elsewhere the text is left alone.
std::string withOsSeparators(std::string text);

// An instrument's folder and file name as a program stores them (backslashes, the folder
// ending in one), joined into a path of this system.
std::string osPathOf(const std::string& storedFolder, const std::string& storedFile);

// The regions of an SFZ text and the samples in them that cannot play: only `<region>`
// headers make zones, and only WAV samples are decoded (FLAC, OGG and the rest leave their
// zone silent).
struct SfzSummary {
    int regions = 0;
    struct Unreadable {
        int region = 0;         // 1-based, in file order
        std::string sample;     // the name as written, up to its extension
        std::string extension;  // upper case, without the dot; empty when it has none
    };
    std::vector<Unreadable> unreadable;
};
SfzSummary summariseSfz(const std::string& text);

// The names parameters are set and listed by: a name shared by several slots becomes
// "NAME#SLOT" for each of them, so that every slot has a name of its own.
std::vector<std::string> uniqueParamNames(const std::vector<std::string>& names);

// The slot a --set key addresses: a slot number below `count`, a unique name, or a shared
// name with "#SLOT". -1 with `error` set when it addresses none or several.
int findParam(const std::vector<std::string>& names, const std::vector<std::string>& unique,
              const std::string& key, std::string& error);

}  // namespace corvane::render
