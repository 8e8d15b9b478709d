// Writes a PNG of every editor page into a folder: the plug-in is loaded, the handclap kit
// dropped on its window and each page shown in a private Xvfb.
//   corvane-screenshots <Corvane.so> <instrument.sfz> <output folder>
#include <cstdio>
#include <string>

#include "EditorHarness.h"
#include "TestHost.h"

using namespace corvane::testhost;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <Corvane.so> <instrument> <folder>\n", argv[0]);
        return 2;
    }
    Xvfb xvfb;
    if (!xvfb.ok()) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return 1;
    }
    std::string error;
    auto plugin = Plugin::load(argv[1], &error);
    if (!plugin) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    plugin->start(44100.0, 512);
    EditorHarness harness(*plugin);
    if (!harness.ok() || !harness.open()) {
        std::fprintf(stderr, "the editor did not open\n");
        return 1;
    }
    harness.dropFile(argv[2]);
    const char* names[5] = {"voice", "modulation", "matrix", "arpeggiator", "effects"};
    for (int page = 0; page < 5; ++page) {
        harness.click(490 + page * 92 + 44, 54);
        harness.move(900, 636);  // the pointer off the controls: no tooltip
        harness.idle(50);
        const std::string path = std::string(argv[3]) + "/editor-" + names[page] + ".png";
        if (!harness.savePng(path)) {
            std::fprintf(stderr, "could not write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    harness.close();
    return 0;
}
