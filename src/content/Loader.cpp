// Finding instrument files and reading them into a sample map, recording what was loaded in
// the patch record.
#include "content/Loader.h"

#include <algorithm>
#include <cstring>

#include "content/RexImport.h"
#include "content/SfzReader.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"

namespace corvane {
namespace {

std::string_view field(const char* text, size_t capacity) {
    return std::string_view(text, strnlen(text, capacity));
}

// Copies text into a fixed-size zero-terminated field, cut to fit, the rest zero-filled.
void copyField(char* dst, size_t capacity, std::string_view text) {
    const size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(dst, text.data(), n);
    std::memset(dst + n, 0, capacity - n);
}

template <size_t N>
void copyField(char (&dst)[N], std::string_view text) {
    copyField(dst, N, text);
}

std::string withBackslashes(std::string_view path) {
    std::string s(path);
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

std::string withTrailingBackslash(std::string s) {
    if (s.empty() || s.back() != '\\') s += '\\';
    return s;
}

// The text before the last backslash; the whole text when it has none.
std::string parentOf(std::string_view folder) {
    const size_t cut = folder.rfind('\\');
    return std::string(cut == std::string_view::npos ? folder : folder.substr(0, cut));
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace

std::string displayName(std::string_view path, bool keepExtension, int maxLength) {
    if (path.empty()) return "---";
    size_t cut = path.rfind('\\');
    if (cut == std::string_view::npos) cut = path.rfind('/');
    std::string name(cut == std::string_view::npos ? path : path.substr(cut + 1));
    if (!keepExtension) {
        const size_t dot = name.rfind('.');
        if (dot != std::string::npos) name.resize(dot);
    }
    if (maxLength >= 2 && name.size() > static_cast<size_t>(maxLength - 1))
        name.resize(static_cast<size_t>(maxLength - 1));
    return name;
}

std::FILE* findFile(std::string_view folder, std::string_view name, std::string& foundFolder) {
    const std::string direct = std::string(folder) + std::string(name);
    if (platform::pathExists(direct)) {
        std::FILE* file = platform::openRead(direct);
        if (file) foundFolder = folder;
        return file;
    }
    auto tryIn = [&](const std::string& dir) -> std::FILE* {
        std::FILE* file = platform::openRead(dir + '\\' + std::string(name));
        if (file) foundFolder = dir + '\\';
        return file;
    };
    std::string_view trimmed = folder;
    if (!trimmed.empty() && trimmed.back() == '\\') trimmed.remove_suffix(1);
    const std::string parent = parentOf(trimmed);
    if (std::FILE* file = tryIn(parent)) return file;
    // Short parents are drive roots; their subfolders are not searched.
    if (parent.size() > 5 && platform::pathExists(parent)) {
        for (const std::string& sub : platform::listSubfolders(parent)) {
            if (sub.empty() || sub[0] == '.') continue;
            if (std::FILE* file = tryIn(parent + '\\' + sub)) return file;
        }
    }
    return tryIn(parentOf(parent));
}

void loadInstrument(SampleMap& map, PatchRecord& patch, std::string_view folderIn,
                    std::string_view nameIn) {
    // Copies first: the texts may be the patch's own fields.
    std::string folder(folderIn);
    const std::string name(nameIn);
    if (folder.empty()) {
        const std::string path = withBackslashes(name);
        const size_t cut = path.rfind('\\');
        const std::string dir = withTrailingBackslash(
            cut == std::string::npos ? std::string() : path.substr(0, cut + 1));
        copyField(map.sampleDirectory, dir);
        copyField(patch.sampleFolder, field(map.sampleDirectory, sizeof map.sampleDirectory));
        copyField(patch.sampleFile, displayName(path, true, 218));
    } else {
        folder = withTrailingBackslash(withBackslashes(folder));
        copyField(map.sampleDirectory, folder);
        copyField(patch.sampleFolder, folder);
        copyField(patch.sampleFile, name);
    }

    std::string foundFolder;
    std::FILE* file = findFile(folder, name, foundFolder);
    if (!file) {
        const std::string text = "File not found (" + name + ")";
        platform::showMessage("Error", text.c_str());
        return;
    }
    map.clearKeyMap();
    if (foundFolder != folder) copyField(map.sampleDirectory, foundFolder);

    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (contains(upper, ".REX") || contains(upper, ".RX2") || contains(upper, ".RCY"))
        importRex(file, map);
    else if (contains(upper, ".SFZ"))
        readSfz(file, map);
    else
        std::fclose(file);
}

void applyBankFolder(const SampleMap& map, PatchRecord* patches, int recordCount) {
    const std::string_view folder = field(map.sampleDirectory, sizeof map.sampleDirectory);
    const int n = std::clamp(recordCount, 0, kNumPrograms);
    for (int i = 0; i < n; ++i) {
        PatchRecord& patch = patches[i];
        if (patch.sampleFile[0] == 0) continue;
        const std::string bare =
            displayName(field(patch.sampleFile, sizeof patch.sampleFile), true, 220);
        copyField(patch.sampleFile, bare);
        copyField(patch.sampleFolder, folder);
    }
}

void loadFromPath(SampleMap& map, PatchRecord& patch, const char* path) {
    if (!path || !*path) return;
    // Paths from this platform's dialogs use '/'; the stored form uses '\'.
    const std::string stored = withBackslashes(path);
    const size_t cut = stored.rfind('\\');
    if (cut == std::string::npos)
        loadInstrument(map, patch, std::string_view(), stored);
    else
        loadInstrument(map, patch, std::string_view(stored).substr(0, cut + 1),
                       std::string_view(stored).substr(cut + 1));
}

void setBankFolder(SampleMap& map, const char* path) {
    std::string folder = path ? path : "";
    const size_t dot = folder.rfind('.');
    if (dot != std::string::npos) folder.resize(dot);
    copyField(map.sampleDirectory, withTrailingBackslash(withBackslashes(folder)));
}

}  // namespace corvane
