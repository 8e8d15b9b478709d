#include "ContentCheck.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string_view>

namespace corvane::render {

namespace {

constexpr std::string_view kRegionTag = "<region>";
constexpr std::string_view kSampleOpcode = "sample=";
// How much of a sample name the plug-in reads, and how far into it it looks for the dot
// that starts the extension.
constexpr size_t kSampleNameChars = 128;
constexpr size_t kExtensionSearchChars = 124;

bool isAllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// One `sample=` value starting at `at`: the plug-in reads up to 128 characters and takes
// the first dot that is not part of "./" or "../" as the start of a three-letter extension.
// Returns false (with the name and extension for the report) when that is not WAV.
bool samplePlays(const std::string& text, size_t at, std::string& shown, std::string& extension) {
    const std::string name = text.substr(at, kSampleNameChars);
    size_t dot = std::string::npos;
    for (size_t i = 0; i < std::min(name.size(), kExtensionSearchChars); ++i) {
        const char next = i + 1 < name.size() ? name[i + 1] : '\0';
        if (name[i] == '.' && next != '.' && next != '\\' && next != '/') {
            dot = i;
            break;
        }
    }
    // The report shows the name on its own line, up to the end of its extension.
    const size_t lineEnd = std::min(name.find_first_of("\r\n"), name.size());
    if (dot == std::string::npos || dot >= lineEnd) {
        shown = name.substr(0, std::min(name.find_first_of(" \t"), lineEnd));
        extension.clear();
    } else {
        size_t end = dot + 1;
        while (end < lineEnd && std::isalnum(static_cast<unsigned char>(name[end])))
            ++end;
        shown = name.substr(0, end);
        extension = upper(name.substr(dot + 1, end - dot - 1));
    }
    return dot != std::string::npos && name.size() >= dot + 4 &&
           upper(name.substr(dot + 1, 3)) == "WAV";
}

}  // namespace

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool isErrorLine(const std::string& line) {
    const size_t colon = line.find(": ");
    return colon != std::string::npos && line.substr(0, colon).find("Error") != std::string::npos;
}

std::string withOsSeparators(std::string text) {
    if (std::filesystem::path::preferred_separator == '/')
        std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

std::string osPathOf(const std::string& storedFolder, const std::string& storedFile) {
    return withOsSeparators(storedFolder + storedFile);
}

SfzSummary summariseSfz(const std::string& text) {
    SfzSummary summary;
    std::vector<size_t> regions;
    for (size_t at = text.find(kRegionTag); at != std::string::npos;
         at = text.find(kRegionTag, at + 1))
        regions.push_back(at);
    summary.regions = static_cast<int>(regions.size());
    for (size_t r = 0; r < regions.size(); ++r) {
        const size_t end = r + 1 < regions.size() ? regions[r + 1] : text.size();
        for (size_t at = text.find(kSampleOpcode, regions[r]); at != std::string::npos && at < end;
             at = text.find(kSampleOpcode, at + 1)) {
            SfzSummary::Unreadable u;
            if (!samplePlays(text, at + kSampleOpcode.size(), u.sample, u.extension)) {
                u.region = static_cast<int>(r + 1);
                summary.unreadable.push_back(std::move(u));
            }
        }
    }
    return summary;
}

std::vector<std::string> uniqueParamNames(const std::vector<std::string>& names) {
    std::map<std::string, int> uses;
    for (const std::string& n : names)
        ++uses[n];
    std::vector<std::string> unique(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        unique[i] = uses[names[i]] > 1 ? names[i] + "#" + std::to_string(i) : names[i];
    return unique;
}

int findParam(const std::vector<std::string>& names, const std::vector<std::string>& unique,
              const std::string& key, std::string& error) {
    const int count = static_cast<int>(names.size());
    if (isAllDigits(key)) {
        const int slot = key.size() <= 6 ? std::stoi(key) : count;
        if (slot < count) return slot;
        error = "parameter " + key + " does not exist (" +
                (count > 0 ? "the slots are numbered 0.." + std::to_string(count - 1)
                           : std::string("the plug-in has no parameters")) +
                ")";
        return -1;
    }
    for (int i = 0; i < count; ++i)
        if (unique[i] == key) return i;
    // "NAME#SLOT" also for a name no other slot shares.
    const size_t hash = key.rfind('#');
    if (hash != std::string::npos && isAllDigits(key.substr(hash + 1)) && key.size() - hash <= 7) {
        const int slot = std::stoi(key.substr(hash + 1));
        if (slot < count && names[slot] == key.substr(0, hash)) return slot;
    }
    std::string sharers;
    int shared = 0;
    for (int i = 0; i < count; ++i) {
        if (names[i] != key) continue;
        if (shared < 4) sharers += (shared ? ", " : "") + unique[i];
        ++shared;
    }
    if (shared > 0) {
        error = "'" + key + "' names " + std::to_string(shared) + " slots (" + sharers +
                (shared > 4 ? ", ..." : "") + "); name one of them";
        return -1;
    }
    error = "no parameter is named '" + key + "' (see --list-params --all)";
    return -1;
}

}  // namespace corvane::render
