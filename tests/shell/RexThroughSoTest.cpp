// Sliced loops through Corvane.so as a host loads it: a copy of the plug-in in a scratch
// folder with the stand-in decoding library beside it, where the plug-in looks for it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestHost.h"
#include "content/ContentTestUtil.h"
#include "content/RexTestUtil.h"

using corvane::testhost::MidiMessage;
using corvane::testhost::Plugin;
namespace fs = std::filesystem;
namespace test = corvane::test;

namespace {

constexpr double kRate = 44100.0;

// Everything the plug-in writes to stderr while it lives.
class StderrCapture {
  public:
    explicit StderrCapture(const fs::path& file) : file_(file) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { restore(); }
    std::vector<std::string> lines() {
        restore();
        return test::readLines(file_);
    }

  private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    fs::path file_;
    int saved_ = -1;
};

// A copy of Corvane.so in a scratch folder; the stand-in goes beside it.
class PluginCopy {
  public:
    PluginCopy() {
        fs::create_directories(dir_.path() / "plugin");
        fs::copy_file(CORVANE_SO_PATH, so());
        ::setenv("CORVANE_REX_LOG", log().c_str(), 1);
    }
    ~PluginCopy() { ::unsetenv("CORVANE_REX_LOG"); }
    fs::path so() const { return dir_.path() / "plugin" / "Corvane.so"; }
    fs::path log() const { return dir_.path() / "calls.log"; }
    void install(const std::string& variant, const std::string& name = test::kRexPlainName) {
        test::installStandIn(dir_.path() / "plugin", variant, name);
    }
    std::unique_ptr<Plugin> load() const {
        std::string error;
        auto p = Plugin::load(so().string(), &error);
        EXPECT_TRUE(p) << error;
        if (p) p->start(kRate, 256);
        return p;
    }
    // Writes the loop file and puts it into the current program as a host restores a
    // session; returns what the plug-in wrote to stderr meanwhile.
    std::vector<std::string> loadLoop(Plugin& p, const test::LoopFile& loop,
                                      const std::string& name = "loop.rx2") const {
        dir_.write("Loops/" + name, loop.text());
        auto chunk = p.getChunk(true);
        char* record = reinterpret_cast<char*>(chunk.data() + 40);
        std::snprintf(record + 11560, 1000, "%s\\", test::stored(dir_.path() / "Loops").c_str());
        std::snprintf(record + 12560, 220, "%s", name.c_str());
        StderrCapture capture(dir_.path() / "stderr.txt");
        EXPECT_EQ(p.setChunk(chunk.data(), chunk.size(), true), 12820);
        return capture.lines();
    }
    const test::TempDir& dir() const { return dir_; }

  private:
    test::TempDir dir_;
};

MidiMessage msg(int status, int d1, int d2, int32_t frame = 0) {
    MidiMessage m;
    m.deltaFrames = frame;
    m.bytes[0] = static_cast<uint8_t>(status);
    m.bytes[1] = static_cast<uint8_t>(d1);
    m.bytes[2] = static_cast<uint8_t>(d2);
    return m;
}

struct Output {
    std::vector<float> left, right;
};

// Plays `key` from frame 0 and renders `frames` frames while it is held.
Output hold(Plugin& p, int key, int64_t frames) {
    Output out;
    p.render(frames, 256, {msg(0x90, key, 127)}, out.left, out.right);
    return out;
}

// The stand-in's slices are constants, so each output frame is the slice's value times the
// one gain of the default patch; `unit` is that gain, measured on slice 0's left channel.
double levelOf(const Output& o, int64_t frame, double unit, bool right = false) {
    return (right ? o.right : o.left)[static_cast<size_t>(frame)] / unit;
}

double unitGain(Plugin& p) {
    const Output o = hold(p, 36, 600);
    std::vector<float> l, r;
    p.render(4096, 256, {msg(0xB0, 123, 0)}, l, r);
    return o.left[300] / test::sliceLeft(0);
}

void silenceAll(Plugin& p) {
    std::vector<float> l, r;
    p.render(256, 256, {msg(0xB0, 123, 0)}, l, r);
    p.render(4096, 256, {}, l, r);
}

double peak(const std::vector<float>& s, size_t from, size_t to) {
    double m = 0.0;
    for (size_t i = from; i < to && i < s.size(); ++i)
        m = std::max(m, std::fabs(double(s[i])));
    return m;
}

}  // namespace

namespace {

TEST(RexThroughSo, StereoSlicesPlayOnTheirKeysAndTheTriggerKeepsTheTempo) {
    PluginCopy copy;
    copy.install("plain");
    auto p = copy.load();
    ASSERT_TRUE(p);
    EXPECT_TRUE(copy.loadLoop(*p, test::LoopFile{}).empty());

    const double unit = unitGain(*p);
    ASSERT_GT(unit, 0.01);
    // Each key plays its own slice: left (i+1)/128, right -(i+1)/256, for 5512 frames.
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        const Output o = hold(*p, 36 + i, 6000);
        for (int64_t f : {64, 2000, 5511}) {
            EXPECT_NEAR(levelOf(o, f, unit), test::sliceLeft(i), 1e-4);
            EXPECT_NEAR(levelOf(o, f, unit, true), test::sliceRight(i), 1e-4);
        }
        EXPECT_EQ(peak(o.left, 5512, 6000), 0.0);
        silenceAll(*p);
    }
    // Keys outside the loop are silent.
    for (int key : {34, 52, 60}) {
        const Output o = hold(*p, key, 2048);
        EXPECT_EQ(peak(o.left, 0, 2048) + peak(o.right, 0, 2048), 0.0) << key;
        silenceAll(*p);
    }
    // Key 35 at 120 BPM: a sixteenth note is 5512.5 frames, so a new slice every 5512.
    {
        const Output o = hold(*p, 35, 17 * 5512);
        for (int k = 0; k < 17; ++k) {
            SCOPED_TRACE(k);
            const int slice = k % 16;
            for (int64_t f : {5512 * k + 70, 5512 * k + 5511}) {
                EXPECT_NEAR(levelOf(o, f, unit), test::sliceLeft(slice), 1e-4);
                EXPECT_NEAR(levelOf(o, f, unit, true), test::sliceRight(slice), 1e-4);
            }
        }
        silenceAll(*p);
    }
    // At 60 BPM each slice has 11025 frames but sounds for 5512: a gap follows.
    p->tempo = 60.0;
    {
        const Output o = hold(*p, 35, 4 * 11025);
        for (int k = 0; k < 4; ++k) {
            SCOPED_TRACE(k);
            EXPECT_NEAR(levelOf(o, 11025 * k + 100, unit), test::sliceLeft(k), 1e-4);
            EXPECT_NEAR(levelOf(o, 11025 * k + 5500, unit), test::sliceLeft(k), 1e-4);
            EXPECT_LT(peak(o.left, 11025 * k + 5600, 11025 * (k + 1)), 1e-6);
        }
    }
}

TEST(RexThroughSo, MonoLoopsPlayOnBothChannelsAndOtherRatesKeepTime) {
    PluginCopy copy;
    copy.install("plain");
    auto p = copy.load();
    ASSERT_TRUE(p);
    ASSERT_TRUE(copy.loadLoop(*p, test::LoopFile{}).empty());
    const double unit = unitGain(*p);

    test::LoopFile mono;
    mono.channels = 1;
    ASSERT_TRUE(copy.loadLoop(*p, mono).empty());
    {
        const Output o = hold(*p, 40, 3000);
        EXPECT_NEAR(levelOf(o, 1000, unit), test::sliceLeft(4), 1e-4);
        EXPECT_NEAR(levelOf(o, 1000, unit, true), test::sliceLeft(4), 1e-4);
        silenceAll(*p);
    }

    // 6000 frames at 48 kHz last 5512.5 output frames at its root key.
    test::LoopFile fast;
    fast.rate = 48000;
    fast.frames = 6000;
    ASSERT_TRUE(copy.loadLoop(*p, fast).empty());
    {
        const Output o = hold(*p, 37, 6000);
        EXPECT_NEAR(levelOf(o, 5511, unit), test::sliceLeft(1), 1e-4);
        // Frame 5512 reads at 5999.46: between the last frame and the zero after it.
        const double at = 5512.0 * 48000.0 / 44100.0;
        EXPECT_NEAR(levelOf(o, 5512, unit), test::sliceLeft(1) * (6000.0 - at), 1e-4);
        EXPECT_EQ(peak(o.left, 5513, 6000), 0.0);
        silenceAll(*p);
    }
    // The trigger still changes slice every 5512.5 output frames at 120 BPM.
    {
        const Output o = hold(*p, 35, 16 * 5513);
        for (int k = 0; k < 16; ++k) {
            SCOPED_TRACE(k);
            const int64_t start = std::llround(5512.5 * k);
            EXPECT_NEAR(levelOf(o, start + 100, unit), test::sliceLeft(k), 1e-4);
            EXPECT_NEAR(levelOf(o, start + 5400, unit), test::sliceLeft(k), 1e-4);
        }
    }
}

TEST(RexThroughSo, EveryImportLoadsTheLibraryAfreshTestingBuildFirst) {
    PluginCopy copy;
    copy.install("plain");
    copy.install("plain", test::kRexTestingName);
    auto p = copy.load();
    ASSERT_TRUE(p);
    test::LoopFile loop;
    loop.slices = 1;
    EXPECT_TRUE(copy.loadLoop(*p, loop).empty());
    EXPECT_TRUE(copy.loadLoop(*p, loop, "again.rx2").empty());
    const std::vector<std::string> once = {
        "load REX Shared Library Testing.so",
        "REXGetLibraryVersion",
        "Open REX Shared Library Testing.so",
        "REXCreate " + std::to_string(loop.text().size()),
        "REXSetOutputSampleRate 44100",
        "REXGetInfo 36",
        "REXGetCreatorInfo 1280",
        "REXSetOutputSampleRate 44100",
        "REXGetSliceInfo 0 8",
        "REXRenderSlice 0 5512 stereo",
        "REXDelete",
        "Close",
        "unload REX Shared Library Testing.so",
    };
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(test::readLines(copy.log()), twice);
}

TEST(RexThroughSo, EveryMessagePathShowsItsText) {
    const std::string corrupt =
        "REX Error: Couldn't load the REX DLL. The DLL file may be corrupt. Please re-install "
        "REX, then try again. If it still doesn't work after that, call tech support.";
    const std::string tooOld =
        "REX Error: Couldn't load the REX DLL because it is too old. Please update the DLL, then "
        "try again.";
    const struct {
        const char* variant;
        std::string line;
    } refusals[] = {
        {nullptr,
         "REX Error: The REX DLL could not be found. Maybe REX is not installed on this system?"},
        {"old", tooOld},
        {"noversion", tooOld},
        {"new",
         "REX Error: The REX DLL could not be used because it is newer than this application is "
         "expecting. Please update the application, or install an older version of the REX "
         "DLL."},
        {"incomplete", corrupt},
        {"closed", corrupt},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.variant ? r.variant : "none");
        PluginCopy copy;
        if (r.variant) copy.install(r.variant);
        auto p = copy.load();
        ASSERT_TRUE(p);
        EXPECT_EQ(copy.loadLoop(*p, test::LoopFile{}), std::vector<std::string>{r.line});
        const Output o = hold(*p, 36, 1024);
        EXPECT_EQ(peak(o.left, 0, 1024), 0.0);
    }

    PluginCopy copy;
    copy.install("plain");
    auto p = copy.load();
    ASSERT_TRUE(p);
    ASSERT_TRUE(copy.loadLoop(*p, test::LoopFile{}).empty());
    // A file the library cannot read empties the map, also after a good one.
    test::LoopFile broken;
    broken.extra = {"fail REXCreate 106"};
    EXPECT_EQ(copy.loadLoop(*p, broken),
              std::vector<std::string>{
                  "REX Error: The format of this file is unknown or the file is corrupt."});
    EXPECT_EQ(peak(hold(*p, 36, 1024).left, 0, 1024), 0.0);
    silenceAll(*p);

    test::LoopFile late;
    late.extra = {"fail REXCreate 107"};
    EXPECT_EQ(copy.loadLoop(*p, late),
              std::vector<std::string>{
                  "REX Error: This REX2 file was created by a later version of ReCycle and "
                  "cannot be loaded with this version of the REX DLL. Please update the DLL, "
                  "then try again."});

    // Creator information: 3 is no message; 204 is shown and the loop still loads.
    test::LoopFile noCreator;
    noCreator.extra = {"fail REXGetCreatorInfo 3"};
    EXPECT_TRUE(copy.loadLoop(*p, noCreator).empty());
    test::LoopFile badCreator;
    badCreator.extra = {"fail REXGetCreatorInfo 204"};
    EXPECT_EQ(copy.loadLoop(*p, badCreator),
              std::vector<std::string>{
                  "REX Error: Invalid argument. One of the parameters you supplied is out of "
                  "range. Please check the documentation on this function for more specific "
                  "help."});
    EXPECT_GT(peak(hold(*p, 51, 1024).left, 0, 1024), 0.0);
    silenceAll(*p);

    // A failing slice keeps the slices before it, silently.
    test::LoopFile failing;
    failing.extra = {"fail REXRenderSlice 207 4"};
    EXPECT_TRUE(copy.loadLoop(*p, failing).empty());
    EXPECT_GT(peak(hold(*p, 39, 1024).left, 0, 1024), 0.0);
    silenceAll(*p);
    EXPECT_EQ(peak(hold(*p, 40, 1024).left, 0, 1024), 0.0);
    silenceAll(*p);
}

TEST(RexThroughSo, AHundredSlicesAndHostileAnswersLoadWithoutHarm) {
    PluginCopy copy;
    copy.install("plain");
    auto p = copy.load();
    ASSERT_TRUE(p);
    const double unit = [&] {
        EXPECT_TRUE(copy.loadLoop(*p, test::LoopFile{}).empty());
        return unitGain(*p);
    }();
    test::LoopFile hundred;
    hundred.slices = 100;
    hundred.loopTicks = 100 * 3840;
    hundred.extra = {"# " + std::string(100, '.')};
    EXPECT_TRUE(copy.loadLoop(*p, hundred, "Big.RCY").empty());
    {
        const Output o = hold(*p, 127, 2048);
        EXPECT_NEAR(levelOf(o, 1000, unit), test::sliceLeft(91), 1e-3);
        silenceAll(*p);
    }
    for (int key = 0; key < 35; ++key) {
        const Output o = hold(*p, key, 256);
        ASSERT_EQ(peak(o.left, 0, 256), 0.0) << key;
    }
    silenceAll(*p);

    test::LoopFile hostile;
    hostile.slices = 100000;
    hostile.frames = 10;
    hostile.extra = {"slice 0 frames -5", "slice 1 frames 2147483647", "slice 2 frames 16777217",
                     "slice 3 pos -2147483648", "slice 4 pos 2147483647"};
    EXPECT_TRUE(copy.loadLoop(*p, hostile, "drums.Rx2.backup").empty());
    // The trigger runs through all of it, and the hostile slices are silent.
    std::vector<float> l, r;
    p->render(44100, 256, {msg(0x90, 35, 127), msg(0x90, 36, 127), msg(0x90, 37, 127)}, l, r);
    for (float v : l)
        ASSERT_TRUE(std::isfinite(v));
    silenceAll(*p);
    EXPECT_EQ(peak(hold(*p, 36, 512).left, 0, 512), 0.0);
}

// Run by LibrarySearchPathFindsTheLibrary in a child process with LD_LIBRARY_PATH set.
TEST(RexThroughSo, DISABLED_ChildLoadsThroughTheSearchPath) {
    const char* so = std::getenv("CORVANE_REX_CHILD_PLUGIN");
    const char* expect = std::getenv("CORVANE_REX_CHILD_EXPECT");
    ASSERT_TRUE(so && expect);
    std::string error;
    auto p = Plugin::load(so, &error);
    ASSERT_TRUE(p) << error;
    p->start(kRate, 256);
    test::TempDir dir;
    dir.write("loop.rx2", test::LoopFile{}.text());
    auto chunk = p->getChunk(true);
    char* record = reinterpret_cast<char*>(chunk.data() + 40);
    std::snprintf(record + 11560, 1000, "%s\\", test::stored(dir.path()).c_str());
    std::snprintf(record + 12560, 220, "loop.rx2");
    StderrCapture capture(dir.path() / "stderr.txt");
    p->setChunk(chunk.data(), chunk.size(), true);
    const auto lines = capture.lines();
    const Output o = hold(*p, 36, 1024);
    if (std::string(expect) == "sound") {
        EXPECT_TRUE(lines.empty());
        EXPECT_GT(peak(o.left, 0, 1024), 0.0);
    } else {
        EXPECT_EQ(lines, std::vector<std::string>{
                             "REX Error: Couldn't load the REX DLL. The DLL file may be corrupt. "
                             "Please re-install REX, then try again. If it still doesn't work "
                             "after that, call tech support."});
        EXPECT_EQ(peak(o.left, 0, 1024), 0.0);
    }
}

TEST(RexThroughSo, LibrarySearchPathFindsTheLibrary) {
    PluginCopy copy;  // no vendor folder beside this copy
    const fs::path good = copy.dir().path() / "lib";
    const fs::path bad = copy.dir().path() / "badlib";
    fs::create_directories(good);
    fs::copy_file(fs::path(CORVANE_REXSTUB_DIR) / "librexstub_plain.so",
                  good / test::kRexPlainName);
    copy.dir().write("badlib/REX Shared Library.so", std::string("not a library"));
    // Found, but a library it needs is nowhere: not loadable either.
    const fs::path needy = copy.dir().path() / "needylib";
    fs::create_directories(needy);
    fs::copy_file(fs::path(CORVANE_REXSTUB_DIR) / "librexstub_needsdep.so",
                  needy / test::kRexPlainName);
    for (const auto& [folder, expect] :
         {std::pair{good, "sound"}, std::pair{bad, "corrupt"}, std::pair{needy, "corrupt"}}) {
        SCOPED_TRACE(expect);
        const std::string cmd =
            "LD_LIBRARY_PATH='" + folder.string() + "' CORVANE_REX_CHILD_PLUGIN='" +
            copy.so().string() + "' CORVANE_REX_CHILD_EXPECT=" + expect + " /proc/" +
            std::to_string(::getpid()) +
            "/exe --gtest_also_run_disabled_tests "
            "--gtest_filter=RexThroughSo.DISABLED_ChildLoadsThroughTheSearchPath"
            " > '" +
            (copy.dir().path() / "child.txt").string() + "' 2>&1";
        const int status = std::system(cmd.c_str());
        std::ifstream in(copy.dir().path() / "child.txt");
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(status, 0) << text.str();
        EXPECT_NE(text.str().find("[  PASSED  ] 1 test."), std::string::npos) << text.str();
    }
    const auto log = test::readLines(copy.log());
    EXPECT_EQ(std::count(log.begin(), log.end(), "Open REX Shared Library.so"), 1);
}

}  // namespace
