#pragma once
// Sample playback: the speed of a voice for a sub-block and the reading of its zone, with
// linear interpolation, into an interleaved stereo scratch buffer.
#include "content/SampleMap.h"
#include "engine/EngineTables.h"
#include "engine/Voice.h"

namespace corvane {

// Frames of sample data per output frame. `bend` and `pitchMod` are in 1/128 semitone;
// `zone` gives the root key and the sample rate (for REX, the loop-trigger zone).
// The result is kept in the voice and reused while the pitch difference stays the same.
double playbackSpeed(const EngineTables& t, Voice& v, const SampleZone& zone, int bend,
                     int pitchMod, bool glideOn, double hostRate);

// Reads n frames (n <= kSubBlockFrames) of the voice's zone into out (2n floats, left and
// right interleaved) and advances the voice's position. A REX loop trigger plays the map's
// slices in turn, each for its length at `tempo`.
void readVoice(Voice& v, const SampleMap& map, double speed, double tempo, const float* fade, int n,
               float* out);

// Reading of one plain zone (no slices); exposed for the tests and the benchmark.
void readZone(Voice& v, const SampleZone& z, double speed, int n, float* out);

}  // namespace corvane
