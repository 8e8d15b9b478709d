#pragma once
// Helpers for the tests that load instruments through the plug-in object.
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "content/ContentTestUtil.h"
#include "shell/VstSynth.h"

namespace corvane::pluginload {

using test::Bytes;

inline intptr_t quietHost(vst::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst::audioMasterVersion ? 2400 : 0;
}

inline constexpr const char* kKit = "<region>sample=a.wav lokey=36 hikey=39\r\n";

inline Bytes tone(int frames) {
    std::vector<int16_t> s(frames);
    for (int i = 0; i < frames; ++i)
        s[i] = int16_t(i % 2 ? 12000 : -12000);
    return test::riff({test::fmtChunk(1, 1, 44100, 16), test::chunk("data", test::pcm16(s))});
}

inline std::unique_ptr<VstSynth> makeSynth() {
    auto synth = std::make_unique<VstSynth>(&quietHost);
    synth->setSampleRate(44100.0f);
    synth->setBlockSize(64);
    return synth;
}

inline void setProgramFile(VstSynth& s, int program, const std::string& folder, const char* file) {
    std::strcpy(s.engine.patches[program].sampleFolder, folder.c_str());
    std::strcpy(s.engine.patches[program].sampleFile, file);
}

template <class Pred>
bool waitFor(Pred pred, int ms) {
    for (int i = 0; i < ms && !pred(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pred();
}

}  // namespace corvane::pluginload
