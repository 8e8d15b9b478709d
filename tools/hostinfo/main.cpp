// corvane-hostinfo: loads a VST 2.4 plug-in through the test host and prints what a host
// sees of it — names, pins, programs and parameters.
#include <cstdio>
#include <string>

#include "TestHost.h"

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : CORVANE_DEFAULT_PLUGIN;
    std::string error;
    auto plugin = corvane::testhost::Plugin::load(path, &error);
    if (!plugin) {
        std::fprintf(stderr, "corvane-hostinfo: %s\n", error.c_str());
        return 1;
    }
    plugin->start(44100.0, 512);
    vst::AEffect* e = plugin->effect();
    const uint32_t id = static_cast<uint32_t>(e->uniqueID);
    std::printf("plug-in:   %s\n", path.c_str());
    std::printf("name:      %s\n", plugin->effectName().c_str());
    std::printf("vendor:    %s\n", plugin->vendorString().c_str());
    std::printf("product:   %s\n", plugin->productString().c_str());
    std::printf("unique ID: %c%c%c%c\n", (id >> 24) & 0xFF, (id >> 16) & 0xFF, (id >> 8) & 0xFF,
                id & 0xFF);
    std::printf("synth:     %s, chunks: %s\n", (e->flags & vst::effFlagsIsSynth) ? "yes" : "no",
                (e->flags & vst::effFlagsProgramChunks) ? "yes" : "no");
    std::printf("inputs:    %d\noutputs:   %d\n", e->numInputs, e->numOutputs);
    for (int i = 0; i < e->numOutputs; ++i) {
        int32_t flags = 0;
        const std::string label = plugin->outputLabel(i, &flags);
        std::printf("  output %d: \"%s\" (flags %d)\n", i, label.c_str(), flags);
    }
    std::printf("programs:  %d\n", e->numPrograms);
    for (int i = 0; i < e->numPrograms && i < 4; ++i)
        std::printf("  %3d %s\n", i, plugin->programNameIndexed(i).c_str());
    if (e->numPrograms > 4) std::printf("  ...\n");
    std::printf("parameters: %d\n", e->numParams);
    for (int i = 0; i < e->numParams; ++i)
        std::printf("  %3d %-20s %s\n", i, plugin->paramName(i).c_str(),
                    plugin->paramDisplay(i).c_str());
    return 0;
}
