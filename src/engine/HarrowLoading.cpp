// Loading instruments into the engine's sample map under the loading/renderBusy hand-over.
#include <cstring>
#include <mutex>

#include "content/Loader.h"
#include "engine/Harrow.h"
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

}  // namespace

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
    PatchRecord& patch = patches[program];
    if (patch.sampleFile[0] != 0) {
        loadInstrument(
            map, patch,
            std::string_view(patch.sampleFolder,
                             strnlen(patch.sampleFolder, sizeof patch.sampleFolder)),
            std::string_view(patch.sampleFile, strnlen(patch.sampleFile, sizeof patch.sampleFile)));
    }
    applyProgram();
    loadedZones_.store(map.zoneCount);
}

void Harrow::loadFromPath(const char* path) {
    std::lock_guard<std::recursive_mutex> lock(loaderMutex_);
    Handover handover(*this);
    if (map.zoneCount != 0) clearSampleMap();
    corvane::loadFromPath(map, currentPatch(), path);
    loadedZones_.store(map.zoneCount);
}

void Harrow::setBankFolder(const char* path) {
    std::lock_guard<std::recursive_mutex> lock(loaderMutex_);
    corvane::setBankFolder(map, path);
    bankFolderSet = 1;
}

void Harrow::applyBankFolder(int recordCount) {
    if (!bankFolderSet) return;
    corvane::applyBankFolder(map, patches.get(), recordCount);
    bankFolderSet = 0;
}

}  // namespace corvane
