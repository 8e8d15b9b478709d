#include "common/win32/RexCommonFolder.h"
#include "shell/RexThroughPlugin.h"

namespace corvane::rexplugin {

// The plug-in looks in the common program files folder first, then through the library
// search path, where this folder is put. The common folder is held for the test, so that
// no other test program installs a library there meanwhile.
StandInFolder::StandInFolder(const fs::path& pluginFolder) : path_(pluginFolder / "search") {
    struct Guard {
        test::RexCommonFolder common;
        std::unique_ptr<test::LibrarySearchFolder> search;
    };
    auto guard = std::make_shared<Guard>();
    blocked_ = guard->common.blocked();
    guard->search = std::make_unique<test::LibrarySearchFolder>(path_);
    guard_ = guard;
}

StandInFolder::~StandInFolder() = default;

}  // namespace corvane::rexplugin
