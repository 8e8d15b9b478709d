// What an open editor costs the audio thread: 40 sustained voices rendered in blocks of 512
// on an audio thread, once with no editor window and once with the window open while the
// user interface thread drags a knob back and forth; prints the audio thread's time per
// block (its own CPU time) for both.
//   corvane-editor-bench <Corvane.so> <instrument.sfz> [seconds]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "EditorHarness.h"
#include "TestHost.h"

using namespace corvane::testhost;

namespace {

// CPU time of the calling thread: what rendering costs the audio thread itself, apart from
// the time the machine gives to other threads meanwhile.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double renderSeconds(Plugin& p, int blocks) {
    std::vector<float> l(512), r(512);
    const double start = threadSeconds();
    for (int i = 0; i < blocks; ++i)
        p.process(l.data(), r.data(), 512);
    return threadSeconds() - start;
}

// Audio-thread microseconds per block, the best of three runs of `blocks` blocks.
double measure(Plugin& p, EditorHarness* gui, int blocks) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        std::atomic<bool> done{false};
        double seconds = 0;
        std::thread audio([&] {
            seconds = renderSeconds(p, blocks);
            done = true;
        });
        if (gui) {  // the cutoff knob, held and moved up and down all the time
            gui->move(482, 128);
            gui->press();
        }
        for (int step = 0; !done; ++step) {
            if (gui)
                gui->move(482, 128 + (step % 40));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
        audio.join();
        if (gui) gui->release();
        best = std::min(best, seconds / blocks * 1e6);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <Corvane.so> <instrument> [seconds]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 3 ? std::atof(argv[3]) : 10.0;
    const int blocks = static_cast<int>(seconds * 44100.0 / 512.0);
    Xvfb xvfb;
    std::string error;
    auto plugin = Plugin::load(argv[1], &error);
    if (!xvfb.ok() || !plugin) {
        std::fprintf(stderr, "cannot start: %s\n", error.c_str());
        return 1;
    }
    plugin->start(44100.0, 512);
    EditorHarness harness(*plugin);
    if (!harness.open()) return 1;
    harness.dropFile(argv[2]);
    harness.close();
    plugin->setParameter(321, 1.0f);  // 40 voices
    std::vector<MidiMessage> notes;
    for (int k = 0; k < 40; ++k)
        notes.push_back({0, {0x90, static_cast<uint8_t>(40 + k), 100}});
    plugin->sendMidi(notes);
    renderSeconds(*plugin, 20);

    // Alternated, so that a slower stretch of the machine does not fall on one side only.
    double closed = 1e9, open = 1e9;
    for (int round = 0; round < 3; ++round) {
        closed = std::min(closed, measure(*plugin, nullptr, blocks));
        if (!harness.open()) return 1;
        open = std::min(open, measure(*plugin, &harness, blocks));
        harness.close();
    }
    std::printf(
        "audio thread per 512-frame block: %.1f us without the editor, %.1f us with "
        "the window open and a knob moving (%+.1f %%)\n",
        closed, open, (open / closed - 1.0) * 100.0);
    return 0;
}
