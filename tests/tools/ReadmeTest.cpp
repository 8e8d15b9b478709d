// The README as a new user follows it: the files it names exist after a build, and its
// corvane-render examples run as written.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

#ifdef CORVANE_RENDER_PATH

#include "RenderToolRun.h"

namespace {

using namespace corvane::rendertest;

const fs::path kBuild = fs::path(CORVANE_DEMO_DIR).parent_path();
const fs::path kSource = CORVANE_SOURCE_DIR;

std::string readme() {
    return slurp(kSource / "README.md");
}

}  // namespace

TEST(Readme, NamedFilesExist) {
    const std::string text = readme();
    ASSERT_FALSE(text.empty());
    // Paths in the build folder (the benchmarks are an option of their own, the interop
    // checks write their own files after the tests) and in the source tree, where they start
    // a word.
    const std::regex built(R"((?:^|[\s`(])build/([A-Za-z0-9_.\-/]*[A-Za-z0-9_/]))");
    const std::regex source(
        R"((?:^|[\s`(])((?:scripts|tools|tests|docs|src|cmake|fuzz)/[A-Za-z0-9_.\-/]*[A-Za-z0-9_/]))");
    int checked = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), built);
         it != std::sregex_iterator(); ++it) {
        const std::string path = (*it)[1];
        if (path.rfind("bench/", 0) == 0 || path.rfind("interop-", 0) == 0) continue;
        EXPECT_TRUE(fs::exists(kBuild / path)) << "build/" << path;
        ++checked;
    }
    for (auto it = std::sregex_iterator(text.begin(), text.end(), source);
         it != std::sregex_iterator(); ++it) {
        EXPECT_TRUE(fs::exists(kSource / std::string((*it)[1]))) << (*it)[1];
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

class ReadmeExamples : public RenderTool {};

TEST_F(ReadmeExamples, RenderExamplesRunAsWritten) {
    // The commands of the shell blocks that start with build/corvane-render, continuation
    // lines joined, run in order in the test's folder with build/ standing for the build.
    const std::string text = readme();
    std::vector<std::string> commands;
    bool inBlock = false;
    std::string pending;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.rfind("```", 0) == 0) {
            inBlock = line == "```sh";
            continue;
        }
        if (!inBlock) continue;
        if (!pending.empty() || line.rfind("build/corvane-render", 0) == 0) {
            pending += line;
            if (!pending.empty() && pending.back() == '\\') {
                pending.pop_back();
                continue;
            }
            commands.push_back(pending);
            pending.clear();
        }
    }
    ASSERT_GE(commands.size(), 6u);
    const std::regex buildWord(R"((^|\s)build/)");
    for (const std::string& c : commands) {
        SCOPED_TRACE(c);
        const std::smatch plugin = [&] {
            std::smatch m;
            std::regex_search(c, m, std::regex(R"(--plugin (\S+))"));
            return m;
        }();
        if (!plugin.empty() && !fs::exists(std::string(plugin[1]))) continue;
        const std::string line = std::regex_replace(c, buildWord, "$1" + kBuild.string() + "/");
        const std::string cmd = "cd " + quote(dir.string()) + " && HOME=" + quote(dir.string()) +
                                " ASAN_OPTIONS=detect_leaks=0 " + line +
                                " >out.txt 2>err.txt </dev/null";
        const int status = std::system(cmd.c_str());
        EXPECT_EQ(status, 0) << slurp(dir / "err.txt");
        // Third-party plug-ins say what they like; ours has nothing to warn about.
        if (plugin.empty()) {
            EXPECT_EQ(slurp(dir / "err.txt"), "") << "an example warns";
        }
    }
}

#endif  // CORVANE_RENDER_PATH
