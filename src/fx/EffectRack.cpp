#include "fx/EffectRack.h"

namespace corvane {

EffectRack::EffectRack(Random& random) : random_(random) {}
void EffectRack::setSampleRate(double) {}
void EffectRack::reset() {}
void EffectRack::setParameter(int, float) {}
void EffectRack::process(int, float**, const int32_t*, float, const DelayModulation&) {}

}  // namespace corvane
