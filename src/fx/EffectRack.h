#pragma once
// The effect rack: six effects run over the effect bus in the user's order.
#include <cstdint>

#include "engine/Random.h"
#include "fx/DelayModulation.h"

namespace corvane {

class EffectRack {
  public:
    explicit EffectRack(Random& random);
    // control, while stopped
    void setSampleRate(double sr);
    void reset();
    // any thread: engine slots 79..121 (effect parameters and on switches)
    void setParameter(int index, float value);
    // audio: processes io[0], io[1] in place in the order given (values outside 0..5 skip)
    void process(int frames, float** io, const int32_t* effectOrder, float tempo,
                 const DelayModulation& mod);

  private:
    Random& random_;
};

}  // namespace corvane
