// Loading instruments into the engine's sample map under the loading/renderBusy hand-over.
#include "content/Loader.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "content/RexImport.h"
#include "content/SfzReader.h"
#include "engine/Harrow.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/Threads.h"

namespace corvane {
namespace {

// Keeps the audio thread out of the engine: raises `loading`, then waits until the block in
// progress (if any) has ended. A nested hand-over on the same engine leaves the flag to
// the outer one.
class Handover {
  public:
    explicit Handover(Harrow& engine) : engine_(engine), raised_(engine.loading.exchange(1) == 0) {
        while (engine_.renderBusy.load() != 0)
            platform::sleepMs(1);
    }
    ~Handover() {
        if (raised_) engine_.loading.store(0);
    }
    Handover(const Handover&) = delete;
    Handover& operator=(const Handover&) = delete;

  private:
    Harrow& engine_;
    bool raised_;
};

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

void loadInstrument(Harrow& engine, std::string_view folderIn, std::string_view nameIn) {
    // Copies first: the texts may be the current program's own fields.
    std::string folder(folderIn);
    const std::string name(nameIn);
    SampleMap& map = engine.map;
    PatchRecord& patch = engine.currentPatch();
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

void applyBankFolder(Harrow& engine, int recordCount) {
    if (!engine.bankFolderSet) return;
    const std::string_view folder =
        field(engine.map.sampleDirectory, sizeof engine.map.sampleDirectory);
    const int n = std::clamp(recordCount, 0, kNumPrograms);
    for (int i = 0; i < n; ++i) {
        PatchRecord& patch = engine.patches[i];
        if (patch.sampleFile[0] == 0) continue;
        const std::string bare =
            displayName(field(patch.sampleFile, sizeof patch.sampleFile), true, 220);
        copyField(patch.sampleFile, bare);
        copyField(patch.sampleFolder, folder);
    }
    engine.bankFolderSet = 0;
}

// Loads into one engine run one at a time under its own lock: two control threads loading
// at once would both change the map, and the first to finish would let the audio thread
// back in early. Another instance's load never holds this one up. The test whether there
// is anything to do comes first and takes no lock, so a program change on the audio thread
// that needs no load returns at once.
void Harrow::selectProgram(int program) {
    program &= 127;
    if (program == currentProgram && loadedZones_.load() >= 1 && !forceReload) return;
    std::lock_guard<std::recursive_mutex> lock(loaderMutex_);
    if (program == currentProgram && map.zoneCount >= 1 && !forceReload) {
        loadedZones_.store(map.zoneCount);
        return;
    }
    Handover handover(*this);
    currentProgram = program;
    forceReload = 0;
    // Whatever is loaded goes, also when a restore has already replaced the record that
    // named it: the new program's instrument, or none, is all that may remain.
    if (map.zoneCount != 0) clearSampleMap();
    const PatchRecord& patch = patches[program];
    if (patch.sampleFile[0] != 0) {
        loadInstrument(*this, field(patch.sampleFolder, sizeof patch.sampleFolder),
                       field(patch.sampleFile, sizeof patch.sampleFile));
    }
    applyProgram();
    loadedZones_.store(map.zoneCount);
}

void Harrow::loadFromPath(const char* path) {
    std::lock_guard<std::recursive_mutex> lock(loaderMutex_);
    Handover handover(*this);
    if (map.zoneCount != 0) clearSampleMap();
    if (path && *path) {
        // Paths from this platform's dialogs use '/'; the stored form uses '\'.
        const std::string stored = withBackslashes(path);
        const size_t cut = stored.rfind('\\');
        if (cut == std::string::npos)
            loadInstrument(*this, std::string_view(), stored);
        else
            loadInstrument(*this, std::string_view(stored).substr(0, cut + 1),
                           std::string_view(stored).substr(cut + 1));
    }
    loadedZones_.store(map.zoneCount);
}

void Harrow::setBankFolder(const char* path) {
    std::lock_guard<std::recursive_mutex> lock(loaderMutex_);
    std::string folder = path ? path : "";
    const size_t dot = folder.rfind('.');
    if (dot != std::string::npos) folder.resize(dot);
    copyField(map.sampleDirectory, withTrailingBackslash(withBackslashes(folder)));
    bankFolderSet = 1;
}

}  // namespace corvane
