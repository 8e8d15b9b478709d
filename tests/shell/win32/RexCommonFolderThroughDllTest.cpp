// Corvane.dll as a host loads it finds the sliced-loop library in the machine's common
// program files folder, checks the file's version there and says why it refuses one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/win32/RexCommonFolder.h"
#include "shell/RexThroughPlugin.h"

namespace corvane::rexplugin {
namespace {

TEST(RexThroughDll, TheCommonProgramFilesFolderIsWhereThePluginLooksFirst) {
    PluginCopy copy;
    CORVANE_SKIP_IF_BLOCKED(copy);
    test::RexCommonFolder common;
    auto p = copy.load();
    ASSERT_TRUE(p);

    common.install(test::standInBuild("plain"), test::rexPlainName());
    EXPECT_TRUE(copy.loadLoop(*p, test::LoopFile{}).empty());
    EXPECT_GT(peak(hold(*p, 40, 1024).left, 0, 1024), 0.0);
    silenceAll(*p);
    const auto log = test::readLines(copy.log());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "load " + test::rexPlainName());
    EXPECT_EQ(log.back(), "unload " + test::rexPlainName());

    const struct {
        const char* variant;  // null: nothing installed
        std::string text;
    } refusals[] = {
        {"old",
         "Couldn't load the REX DLL because it is too old. Please update the DLL, then try "
         "again."},
        {"new",
         "The REX DLL could not be used because it is newer than this application is "
         "expecting. Please update the application, or install an older version of the REX "
         "DLL."},
        {nullptr, "The REX DLL could not be found. Maybe REX is not installed on this system?"},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.variant ? r.variant : "none");
        common.clear();
        if (r.variant) common.install(test::standInBuild(r.variant), test::rexPlainName());
        EXPECT_EQ(copy.loadLoop(*p, test::LoopFile{}), std::vector<std::string>{rexError(r.text)});
        EXPECT_EQ(peak(hold(*p, 40, 1024).left, 0, 1024), 0.0);
        silenceAll(*p);
    }
}

}  // namespace
}  // namespace corvane::rexplugin
