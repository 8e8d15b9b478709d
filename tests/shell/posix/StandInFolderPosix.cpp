#include "shell/RexThroughPlugin.h"

namespace corvane::rexplugin {

// The plug-in looks in "<its folder>/Propellerhead Software/Rex" first.
StandInFolder::StandInFolder(const fs::path& pluginFolder)
    : path_(pluginFolder / "Propellerhead Software" / "Rex") {
    fs::create_directories(path_);
}

StandInFolder::~StandInFolder() = default;

}  // namespace corvane::rexplugin
