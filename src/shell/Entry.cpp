// The plug-in's entry functions: the host calls one of them to create an instance.
#include <new>
#include <type_traits>

#include "platform/Export.h"
#include "platform/FpEnvironment.h"
#include "shell/VstSynth.h"
#if CORVANE_EDITOR
#include "editor/Editor.h"
#endif

using corvane::VstSynth;

namespace {
vst::AEffect* createInstance(vst::HostCallback host) {
    if (!host) return nullptr;
    if (host(nullptr, vst::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    corvane::platform::FpEnvironmentGuard fp;  // the engine builds its tables here
#if CORVANE_EDITOR
    corvane::setEditorFactory(&corvane::editor::makeEditor);
#endif
    try {
        auto* synth = new VstSynth(host);
        return synth->getAeffect();
    } catch (...) {
        return nullptr;
    }
}
}  // namespace

extern "C" CORVANE_EXPORT vst::AEffect* CORVANE_CDECL VSTPluginMain(vst::HostCallback host) {
    return createInstance(host);
}
static_assert(std::is_same_v<decltype(&VSTPluginMain), vst::PluginEntryProc>);

// Older hosts look for "main"; C++ reserves that name, so it is exported under an alias.
extern "C" CORVANE_EXPORT vst::AEffect* CORVANE_CDECL
corvaneMainAlias(vst::HostCallback host) asm("main");
extern "C" vst::AEffect* CORVANE_CDECL corvaneMainAlias(vst::HostCallback host) {
    return createInstance(host);
}
