#include "content/SfzReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "content/WavReader.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"

namespace corvane {
namespace {

constexpr size_t kMaxValueChars = 100;
constexpr size_t kSampleNameChars = 128;
constexpr size_t kExtensionSearchChars = 124;
constexpr std::string_view kRegionTag = "<region>";

// The instrument text; reads past its end see the terminator.
class Text {
  public:
    Text(const char* p, size_t n) : p_(p), n_(n) {}

    size_t size() const { return n_; }
    unsigned char at(size_t i) const { return i < n_ ? static_cast<unsigned char>(p_[i]) : 0; }
    bool startsWith(size_t i, std::string_view s) const {
        return i <= n_ && n_ - i >= s.size() && std::memcmp(p_ + i, s.data(), s.size()) == 0;
    }
    // The characters from i on that satisfy `accept`, at most kMaxValueChars.
    template <class Accept>
    std::string_view run(size_t i, Accept accept) const {
        size_t n = 0;
        while (n < kMaxValueChars && i + n < n_ && accept(at(i + n)))
            ++n;
        return i < n_ ? std::string_view(p_ + i, n) : std::string_view();
    }

  private:
    const char* p_;
    size_t n_;
};

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isIntegerChar(unsigned char c) {
    return isDigit(c) || c == '-' || c == '+';
}
bool isDecimalChar(unsigned char c) {
    return isIntegerChar(c) || c == '.' || c == ',';
}

// A decimal integer with an optional leading sign, read up to the first other character;
// anything else reads as 0. Values beyond 32 bits saturate.
int32_t parseInteger(std::string_view s) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    int64_t v = 0;
    for (; i < s.size() && isDigit(static_cast<unsigned char>(s[i])); ++i) {
        v = v * 10 + (s[i] - '0');
        if (v > int64_t{INT32_MAX} + 1) v = int64_t{INT32_MAX} + 1;
    }
    if (negative) return static_cast<int32_t>(-v);
    return static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX));
}

uint32_t parseUnsigned(std::string_view digits) {
    uint64_t v = 0;
    for (char c : digits)
        v = std::min<uint64_t>(v * 10 + static_cast<uint64_t>(c - '0'), UINT32_MAX);
    return static_cast<uint32_t>(v);
}

double parseDecimal(std::string_view s) {
    s = s.substr(0, s.find(','));
    if (!s.empty() && s[0] == '+') {
        s.remove_prefix(1);
        if (!s.empty() && (s[0] == '+' || s[0] == '-')) return 0.0;
    }
    double v = 0.0;
    if (std::from_chars(s.data(), s.data() + s.size(), v).ec != std::errc()) return 0.0;
    return v;
}

// Two's-complement wrap of a 64-bit product into 32 bits.
int32_t wrap32(int64_t v) {
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

int8_t low8(int32_t v) {
    return static_cast<int8_t>(static_cast<uint8_t>(v & 0xff));
}

// A key: a note name (c4 = 60, c#4 = 61, db4 = 61) when the value starts with a letter,
// else an integer. A sharp or a flat sign ("#", "b") follows the letter and moves the key a
// semitone within the same octave number, so cb4 is 59 and b#3 is 60.
int32_t parseKey(const Text& t, size_t v) {
    const unsigned char c = t.at(v);
    if (c < 'A') return parseInteger(t.run(v, isIntegerChar));
    int semitone = 0;
    switch (c | 0x20) {
        case 'c':
            semitone = 0;
            break;
        case 'd':
            semitone = 2;
            break;
        case 'e':
            semitone = 4;
            break;
        case 'f':
            semitone = 5;
            break;
        case 'g':
            semitone = 7;
            break;
        case 'a':
            semitone = 9;
            break;
        case 'b':
            semitone = 11;
            break;
        default:
            semitone = 0;
            break;
    }
    const unsigned char sign = t.at(v + 1);
    const int shift = sign == '#' ? 1 : ((sign | 0x20) == 'b' ? -1 : 0);
    const size_t octaveAt = v + (shift != 0 ? 2 : 1);
    char octave[2] = {static_cast<char>(t.at(octaveAt)), static_cast<char>(t.at(octaveAt + 1))};
    size_t n = 0;
    while (n < 2 && isIntegerChar(static_cast<unsigned char>(octave[n])))
        ++n;
    return semitone + shift + 12 + 12 * parseInteger(std::string_view(octave, n));
}

void loadSample(const Text& t, size_t v, SampleMap& map, SampleZone& zone, SampleOpener opener,
                void* context) {
    std::string name;
    for (size_t i = v; i < v + kSampleNameChars && t.at(i) != 0; ++i)
        name.push_back(static_cast<char>(t.at(i)));
    // The first dot that is not part of a leading ./ or ../ marks the extension.
    size_t dot = std::string::npos;
    for (size_t i = 0; i < std::min(name.size(), kExtensionSearchChars); ++i) {
        const char next = i + 1 < name.size() ? name[i + 1] : '\0';
        if (name[i] == '.' && next != '.' && next != '\\' && next != '/') {
            dot = i;
            break;
        }
    }
    if (dot == std::string::npos || name.size() < dot + 4) return;
    name.resize(dot + 4);
    for (size_t i = dot + 1; i < name.size(); ++i) {
        const char u = (name[i] >= 'a' && name[i] <= 'z') ? name[i] - 32 : name[i];
        if (u != "WAV"[i - dot - 1]) return;
    }
    // A drive letter, or on this platform a leading slash, makes the name absolute.
    std::string path;
    if (name[1] == ':' || name[0] == '/') {
        path = name;
    } else {
        path.assign(map.sampleDirectory, strnlen(map.sampleDirectory, sizeof map.sampleDirectory));
        path += name;
    }
    for (char& c : path)
        if (c == '/') c = '\\';
    if (!opener(context, path, zone)) {
        const std::string text = "File not found (" + path + ")";
        platform::showMessage("Error", text.c_str());
    }
}

void parseRegion(const Text& t, size_t begin, size_t end, SampleMap& map, SampleOpener opener,
                 void* context) {
    SampleZone* zone = map.appendZone();
    if (!zone) return;
    for (size_t i = begin; i < end; ++i) {
        const unsigned char c = t.at(i);
        // Every name starts with one of these letters; skip the rest quickly.
        if (c != 'l' && c != 'h' && c != 'p' && c != 't' && c != 'v' && c != 's') continue;
        if (t.startsWith(i, "lovel=")) {
            zone->loVel = low8(parseInteger(t.run(i + 6, isIntegerChar)));
        } else if (t.startsWith(i, "hivel=")) {
            zone->hiVel = low8(parseInteger(t.run(i + 6, isIntegerChar)));
        } else if (t.startsWith(i, "lokey=")) {
            zone->loKey = low8(parseKey(t, i + 6));
        } else if (t.startsWith(i, "hikey=")) {
            zone->hiKey = low8(parseKey(t, i + 6));
        } else if (t.startsWith(i, "pitch_keycenter=")) {
            zone->rootKey = low8(parseKey(t, i + 16));
        } else if (t.startsWith(i, "transpose=")) {
            const int64_t semitones = parseInteger(t.run(i + 10, isIntegerChar));
            zone->tune = wrap32(int64_t{zone->tune} + semitones * 128);
        } else if (t.startsWith(i, "tune=")) {
            const int64_t cents = parseInteger(t.run(i + 5, isIntegerChar));
            const int32_t cents128 = wrap32(cents * 128);
            zone->tune = wrap32(int64_t{zone->tune} + cents128 / 100);
        } else if (t.startsWith(i, "volume=")) {
            // A level beyond +48 dB is no instrument's intent; an unbounded one would
            // overflow to an infinite gain and poison the effect states with NaN.
            const double db = std::min(parseDecimal(t.run(i + 7, isDecimalChar)), 48.0);
            zone->gain = static_cast<float>(std::pow(10.0, db / 20.0));
        } else if (t.startsWith(i, "pan=")) {
            zone->pan = static_cast<float>(parseDecimal(t.run(i + 4, isDecimalChar)));
        } else if (t.startsWith(i, "sample=")) {
            loadSample(t, i + 7, map, *zone, opener, context);
        }
    }
    // Loop opcodes come second so that they override the sample file's own loop.
    for (size_t i = begin; i < end; ++i) {
        if (t.at(i) != 'l') continue;
        if (t.startsWith(i, "loopstart=")) {
            zone->loopStart = parseUnsigned(t.run(i + 10, isDigit));
        } else if (t.startsWith(i, "loopend=")) {
            zone->loopEnd = parseUnsigned(t.run(i + 8, isDigit)) + 1.0;
        } else if (t.startsWith(i, "loopmode=")) {
            if (t.run(i + 9, [](unsigned char c) { return c > ' '; }) == "loop_continuous")
                zone->loopMode = 1;
        }
    }
    map.markKeys(*zone);
}

}  // namespace

bool openSampleFile(void*, const std::string& storedPath, SampleZone& zone) {
    std::FILE* file = platform::openRead(storedPath);
    if (!file) return false;
    readWav(file, zone);
    return true;
}

void readSfzText(const char* text, size_t length, SampleMap& map, SampleOpener opener,
                 void* openerContext) {
    const Text t(text, std::min(length, kMaxSfzBytes));
    std::vector<size_t> regions;
    for (size_t i = 0; i < t.size(); ++i)
        if (t.at(i) == '<' && t.startsWith(i, kRegionTag)) regions.push_back(i);
    if (regions.empty()) return;
    if (regions.size() > static_cast<size_t>(INT32_MAX)) return;
    if (!map.beginZones(static_cast<int32_t>(regions.size()))) return;
    for (size_t r = 0; r < regions.size(); ++r) {
        const size_t end = r + 1 < regions.size() ? regions[r + 1] : t.size();
        parseRegion(t, regions[r], end, map, opener, openerContext);
    }
}

void readSfz(std::FILE* file, SampleMap& map) {
    if (!file) return;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kMaxSfzBytes + 1]);
    size_t got = 0;
    if (buffer) got = std::fread(buffer.get(), 1, kMaxSfzBytes, file);
    std::fclose(file);
    if (!buffer) return;
    buffer[got] = '\0';
    readSfzText(buffer.get(), got, map);
}

}  // namespace corvane
