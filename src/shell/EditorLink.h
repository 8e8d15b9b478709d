#pragma once
// What the plug-in tells its editor, and how the plug-in gets one. The editor itself lives
// in src/editor and is linked only into builds that have a window system; without it the
// plug-in runs with no editor and does not announce one to the host.
#include <cstdint>

#include "vst/VstAbi.h"

namespace corvane {

class VstSynth;

class EditorLink {
  public:
    virtual ~EditorLink() = default;

    // user interface thread (the host's window thread)
    virtual bool open(void* parentWindow) = 0;
    virtual void close() = 0;
    virtual void idle() = 0;
    virtual bool isOpen() const = 0;
    virtual bool getRect(vst::ERect** rect) = 0;
    // The own host's mouse wheel: screen position and distance.
    virtual void hostWheel(int x, int y, float distance) = 0;

    // any thread, the audio thread included: lock-free, no allocation, no window-system call
    virtual void parameterChanged(int slot, float value) = 0;
    virtual void programChanged() = 0;
    virtual void programNameChanged() = 0;
    virtual void noteReported(int key, bool on) = 0;
    virtual void keyboardChanged() = 0;
};

// The editor maker the plug-in uses when it is constructed; null (the default) means no
// editor. Set once by the plug-in library before any instance exists.
using EditorFactory = EditorLink* (*)(VstSynth& synth);
void setEditorFactory(EditorFactory factory);
EditorFactory editorFactory();

}  // namespace corvane
