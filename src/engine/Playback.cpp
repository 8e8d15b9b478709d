#include "engine/Playback.h"

#include <cmath>
#include <cstring>

namespace corvane {
namespace {

typedef float Lanes2 __attribute__((vector_size(8)));

template <bool Stereo>
inline void readFrame(const float* d, int i, float f, float* out) {
    const float g = 1.0f - f;
    if constexpr (Stereo) {
        // Both channels in the lanes of one pair: the same products and sums, in one go.
        const float* p = d + 2 * i;
        Lanes2 a, b;
        std::memcpy(&a, p, sizeof a);
        std::memcpy(&b, p + 2, sizeof b);
        const Lanes2 s = a * g + b * f;
        std::memcpy(out, &s, sizeof s);
    } else {
        const float s = d[i] * g + d[i + 1] * f;
        out[0] = s;
        out[1] = s;
    }
}

// Frames from `pos` on that certainly stay below `limit` (a margin of two frames covers the
// rounding of the repeated additions), at most `most`.
inline int framesBelow(double pos, double limit, double speed, int most) {
    if (!(speed > 0.0)) return 0;
    const double room = (limit - pos) / speed - 2.0;
    if (!(room > 0.0)) return 0;
    return room < most ? static_cast<int>(room) : most;
}

// A sample played once: frames at or past `end` are silence while the position runs on.
// Positions are compared as doubles, so a voice held for hours never converts a huge
// position to an integer.
template <bool Stereo>
double readOnce(const float* d, int end, double pos, double speed, int n, float* out) {
    const double limit = end;
    int k = 0;
    while (k < n) {
        for (const int stop = k + framesBelow(pos, limit, speed, n - k); k < stop; ++k) {
            const int i = static_cast<int>(pos);
            readFrame<Stereo>(d, i, static_cast<float>(pos - i), out + 2 * k);
            pos += speed;
        }
        if (k == n || !(pos < limit)) break;
        const int i = static_cast<int>(pos);
        readFrame<Stereo>(d, i, static_cast<float>(pos - i), out + 2 * k);
        pos += speed;
        ++k;
    }
    for (; k < n; ++k) {
        out[2 * k] = 0.0f;
        out[2 * k + 1] = 0.0f;
        pos += speed;
    }
    return pos;
}

// A looping sample: reaching `end` steps back by the loop length; the fraction of the
// position before the jump is kept for that frame.
template <bool Stereo>
double readLooped(const float* d, int end, double length, double pos, double speed, int n,
                  float* out) {
    const double limit = end;
    int k = 0;
    while (k < n) {
        // A run that cannot reach the loop end needs no test per frame.
        for (const int stop = k + framesBelow(pos, limit, speed, n - k); k < stop; ++k) {
            const int i = static_cast<int>(pos);
            readFrame<Stereo>(d, i, static_cast<float>(pos - i), out + 2 * k);
            pos += speed;
        }
        if (k == n) break;
        int i = static_cast<int>(pos);
        const float f = static_cast<float>(pos - i);
        if (pos >= limit) {
            pos -= length;
            // Only a speed above the loop length needs more than one step back.
            if (pos >= limit) pos -= length * (std::floor((pos - limit) / length) + 1.0);
            i = static_cast<int>(pos);
        }
        readFrame<Stereo>(d, i, f, out + 2 * k);
        pos += speed;
        ++k;
    }
    return pos;
}

void silence(int n, float* out) {
    for (int k = 0; k < 2 * n; ++k)
        out[k] = 0.0f;
}

// REX loop trigger: slices one after another, each for its length at the tempo; at each
// change the rest of the old slice fades out over 64 frames under the new one.
void readSlices(Voice& v, const SampleMap& map, const SampleZone& trigger, double speed,
                double tempo, const float* fade, int n, float* out) {
    const int slices = map.sliceCount < map.zoneCount ? map.sliceCount : map.zoneCount;
    double pos = v.position;
    if (v.sliceIndex < 0 || v.sliceIndex >= slices) v.sliceIndex = 0;
    for (int k = 0; k < n; ++k) {
        int i = static_cast<int>(pos < 2147483647.0 ? pos : 2147483647.0);
        const float f = static_cast<float>(pos - i);
        if (pos >= static_cast<double>(v.sliceEnd)) {
            const SampleZone& old = map.zones[v.sliceIndex];
            if (old.data && i < old.frameCount) {
                for (int t = 0; t < kSliceTailFrames; ++t) {
                    if (old.channels == 1) {
                        v.tailL[t] = old.data[i + t] * fade[t];
                        v.tailR[t] = v.tailL[t];
                    } else {
                        v.tailL[t] = old.data[2 * (i + t)] * fade[t];
                        v.tailR[t] = old.data[2 * (i + t) + 1] * fade[t];
                    }
                }
                v.tailCount = kSliceTailFrames;
            }
            v.sliceIndex = (v.sliceIndex + 1) % slices;
            pos = 0.0;
            i = 0;
            v.sliceEnd = map.sliceDurationSamples(trigger, v.sliceIndex, tempo);
        }
        const SampleZone& z = map.zones[v.sliceIndex];
        float l = 0.0f, r = 0.0f;
        if (z.data && i < z.frameCount) {
            float fr[2];
            if (z.channels == 1)
                readFrame<false>(z.data, i, f, fr);
            else
                readFrame<true>(z.data, i, f, fr);
            l = fr[0];
            r = fr[1];
        }
        if (v.tailCount > 0) {
            const int t = kSliceTailFrames - v.tailCount;
            l += v.tailL[t];
            r += v.tailR[t];
            --v.tailCount;
        }
        out[2 * k] = l;
        out[2 * k + 1] = r;
        pos += speed;
    }
    v.position = pos;
}

}  // namespace

double playbackSpeed(const EngineTables& t, Voice& v, const SampleZone& zone, int bend,
                     int pitchMod, bool glideOn, double hostRate) {
    int d;
    if (glideOn) {
        d = static_cast<int>(v.pitch + v.glideOffset + static_cast<float>(bend) +
                             static_cast<float>(pitchMod)) -
            zone.rootKey * 128;
    } else {
        d = (static_cast<int>(v.pitch / 128.0f) - zone.rootKey) * 128 + bend + pitchMod;
    }
    if (d != v.speedPitch) {
        v.speedPitch = d;
        v.speed = static_cast<double>(t.ratio(d)) * zone.sampleRate / hostRate;
    }
    return v.speed;
}

void readZone(Voice& v, const SampleZone& z, double speed, int n, float* out) {
    const float* d = z.data;
    const int frames = z.frameCount;
    if (!d || frames <= 0) {
        silence(n, out);
        for (int k = 0; k < n; ++k)
            v.position += speed;
        return;
    }
    const bool stereo = z.channels != 1;
    if (z.loopMode >= 1) {
        // A loop must lie inside the data and be at least one frame long; a broken one
        // plays the sample once rather than reading past its end.
        const double loopEnd = z.loopEnd < frames ? z.loopEnd : static_cast<double>(frames);
        const double length = loopEnd - z.loopStart;
        if (z.loopStart >= 0.0 && length >= 1.0) {
            const int end = static_cast<int>(loopEnd);
            v.position = stereo ? readLooped<true>(d, end, length, v.position, speed, n, out)
                                : readLooped<false>(d, end, length, v.position, speed, n, out);
            return;
        }
    }
    v.position = stereo ? readOnce<true>(d, frames, v.position, speed, n, out)
                        : readOnce<false>(d, frames, v.position, speed, n, out);
}

void readVoice(Voice& v, const SampleMap& map, double speed, double tempo, const float* fade, int n,
               float* out) {
    const SampleZone& z = *v.zone;
    if (z.isLoopTrigger && map.sliceCount >= 1 && map.zoneCount >= 1)
        readSlices(v, map, z, speed, tempo, fade, n, out);
    else
        readZone(v, z, speed, n, out);
}

}  // namespace corvane
