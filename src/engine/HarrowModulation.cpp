// The engine's modulation seams: tempo-synced LFO rates, the global modulation pass, the
// arpeggiator, the per-voice modulation and filter passes and their parameters. Without
// LFOs, routings or a filter type the voices render unmodulated and unfiltered.
#include "engine/Harrow.h"

namespace corvane {

void Harrow::beginBlock() {}
void Harrow::updateGlobalModulation() {
    noteStarted = false;
}
void Harrow::runArpeggiator(int) {}
void Harrow::setModulationParameter(int, float) {}
void Harrow::clearModulationMatrix() {}
void Harrow::modulateVoice(Voice&, int, int, VoiceModulation&) {}
void Harrow::filterVoice(Voice&, float*, int, const VoiceModulation&, const FilterEnvelopeCoefs&) {}

}  // namespace corvane
