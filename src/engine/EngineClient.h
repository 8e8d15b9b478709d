#pragma once
// What the engine hands back to the plug-in that owns it: the values of a program being
// applied (the plug-in routes them as its own parameter changes, so that it sees them too)
// and the arpeggiator's notes (so that they join the plug-in's note list).
#include <cstdint>

namespace corvane {

class EngineClient {
  public:
    // Loader, inside the hand-over: one stored value of the program being applied.
    virtual void programValue(int index, float value) = 0;
    // Audio: status 0x90 or 0x80, key 0..127, frame offset in the host block, velocity.
    virtual void arpNote(int status, int key, int32_t frame, int velocity) = 0;

  protected:
    ~EngineClient() = default;
};

}  // namespace corvane
