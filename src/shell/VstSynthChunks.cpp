// Program and bank chunks, and the .fxp/.fxb files built on them.
#include "shell/VstSynth.h"

namespace corvane {

int32_t VstSynth::getChunk(void** data, bool) {
    *data = chunkBuffer_.get();
    return 0;
}

int32_t VstSynth::setChunk(void*, int32_t, bool) {
    return 0;
}

bool VstSynth::loadBankFile(const char*) {
    return false;
}
bool VstSynth::loadProgramFile(const char*) {
    return false;
}
bool VstSynth::saveBankFile(const char*) {
    return false;
}
bool VstSynth::saveProgramFile(const char*) {
    return false;
}

}  // namespace corvane
