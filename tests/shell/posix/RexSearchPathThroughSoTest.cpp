// The library's bare name found through the system's library search path, in a child
// process started with LD_LIBRARY_PATH.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "shell/RexThroughPlugin.h"

namespace corvane::rexplugin {
namespace {

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
    testing::internal::CaptureStderr();
    p->setChunk(chunk.data(), chunk.size(), true);
    const auto lines = splitLines(testing::internal::GetCapturedStderr());
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
    test::copyStandIn(good, "plain", test::rexPlainName());
    copy.dir().write("badlib/REX Shared Library.so", std::string("not a library"));
    // Found, but a library it needs is nowhere: not loadable either.
    const fs::path needy = copy.dir().path() / "needylib";
    test::copyStandIn(needy, "needsdep", test::rexPlainName());
    for (const auto& [folder, expect] :
         {std::pair{good, "sound"}, std::pair{bad, "corrupt"}, std::pair{needy, "corrupt"}}) {
        SCOPED_TRACE(expect);
        const std::string cmd =
            "LD_LIBRARY_PATH='" + folder.string() + "' CORVANE_REX_CHILD_PLUGIN='" +
            copy.plugin().string() + "' CORVANE_REX_CHILD_EXPECT=" + expect + " /proc/" +
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
    EXPECT_EQ(std::count(log.begin(), log.end(), "Open " + test::rexPlainName()), 1);
}

}  // namespace
}  // namespace corvane::rexplugin
