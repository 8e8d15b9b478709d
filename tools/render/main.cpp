// corvane-render: plays a MIDI file through a VST 2.4 instrument (Corvane by default) and
// writes the result to a WAV file. It is a real host: it loads the plug-in with dlopen and
// talks to it only through the VST interface.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ContentCheck.h"
#include "FxFile.h"
#include "MidiFile.h"
#include "StderrCapture.h"
#include "TestHost.h"
#include "WavOut.h"
#include "platform/Process.h"

#ifndef CORVANE_DEMO_DIR
#define CORVANE_DEMO_DIR ""
#endif

namespace fs = std::filesystem;
using corvane::testhost::Plugin;

namespace corvane::render {
namespace {

constexpr int32_t kCorvaneId = 0x4352564E;  // "CRVN"
// Where the instrument file lives inside a program chunk: a 40-byte chunk header, then the
// patch record with its folder (1000 bytes) and file name (220 bytes) fields.
constexpr size_t kChunkHeader = 40;
constexpr size_t kFolderOffset = kChunkHeader + 11560;
constexpr size_t kFolderField = 1000;
constexpr size_t kFileOffset = kChunkHeader + 12560;
constexpr size_t kFileField = 220;
constexpr size_t kProgramChunkSize = kChunkHeader + 12780;
// The plug-in keeps at most 253 characters of the folder and 217 of the file name.
constexpr size_t kMaxFolder = 253;
constexpr size_t kMaxFile = 217;
constexpr double kMaxSeconds = 6.0 * 3600.0;
// The plug-in reads this much of an SFZ file.
constexpr size_t kMaxSfzBytes = 1000000;
// Exit status when the content did not load or the render is silent.
constexpr int kContentStatus = 3;

const char* const kUsage =
    "usage: corvane-render [options]\n"
    "  (nothing to load/play)  render the bundled demo to demo.wav\n"
    "  --plugin PATH           the VST 2.4 plug-in to load (default: Corvane.so beside this tool)\n"
    "  --instrument FILE       load an SFZ or REX instrument into the current program\n"
    "  --program FILE.fxp      load a program file\n"
    "  --bank FILE.fxb         load a bank file\n"
    "  --select N              select program N (after --bank)\n"
    "  --set NAME=VALUE        set a parameter or stored slot (number or exact name; a name\n"
    "                          several slots share takes #SLOT, e.g. Reserved#39); host\n"
    "                          parameters take 0..1, the slots past them their stored value\n"
    "                          (Filter Type=1 is the low-pass); repeatable\n"
    "  --list-params           print the host parameters with their display texts\n"
    "  --all                   with --list-params: every stored slot\n"
    "  --midi FILE.mid         the Standard MIDI File to play (formats 0 and 1)\n"
    "  --tempo BPM             play at this tempo instead of the file's tempo map\n"
    "  --out FILE.wav          output file (default: out.wav)\n"
    "  --format F              float (default), pcm24 or pcm16\n"
    "  --rate HZ               sample rate (default 44100)\n"
    "  --block N               host block size in frames (default 512)\n"
    "  --tail SECONDS          time rendered after the last event (default 2)\n"
    "  --save-program FILE     write the current program as .fxp after loading\n"
    "  --save-bank FILE        write the bank as .fxb after loading\n"
    "  --allow-silence         go on when the instrument did not load completely, and accept\n"
    "                          a silent render (otherwise both end with exit status 3)\n"
    "  --quiet                 no progress bar, no summary line, no report of what was loaded\n";

struct Options {
    bool demo = false;
    std::string plugin;
    std::string instrument;
    std::string program;
    std::string bank;
    int select = -1;
    std::vector<std::string> sets;
    bool listParams = false;
    bool allParams = false;
    bool allowSilence = false;
    std::string midi;
    double tempo = 0.0;
    std::string out;
    SampleFormat format = SampleFormat::Float32;
    double rate = 44100.0;
    int block = 512;
    double tail = 2.0;
    std::string saveProgram;
    std::string saveBank;
    bool quiet = false;
};

struct Failure {
    std::string message;
    int status;
};

[[noreturn]] void fail(const std::string& message, int status = 1) {
    throw Failure{message, status};
}

double parseNumber(const std::string& option, const std::string& text, double lo, double hi) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != 0 || errno != 0 || !std::isfinite(v))
        fail(option + " needs a number, got '" + text + "'", 2);
    if (v < lo || v > hi) {
        char range[96];
        std::snprintf(range, sizeof range, " must lie between %g and %g, got ", lo, hi);
        fail(option + range + text, 2);
    }
    return v;
}

int parseInteger(const std::string& option, const std::string& text, int lo, int hi) {
    const double v = parseNumber(option, text, lo, hi);
    if (v != std::floor(v)) fail(option + " needs a whole number, got '" + text + "'", 2);
    return static_cast<int>(v);
}

std::string exeFolder() {
    return corvane::platform::executableFolder();
}

// The demo files: next to the tool's build, or in a demo folder beside the tool.
std::string findDemoFolder() {
    const std::string candidates[] = {CORVANE_DEMO_DIR, exeFolder() + "/demo"};
    for (const std::string& c : candidates) {
        std::error_code ec;
        if (!c.empty() && fs::exists(fs::path(c) / "demo.mid", ec)) return c;
    }
    fail("the demo files were not found (looked in " + std::string(CORVANE_DEMO_DIR) + " and " +
         exeFolder() + "/demo); build the corvane-demo-files target first");
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) fail(a + " needs a value", 2);
            return argv[++i];
        };
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--plugin") {
            o.plugin = value();
        } else if (a == "--instrument") {
            o.instrument = value();
        } else if (a == "--program") {
            o.program = value();
        } else if (a == "--bank") {
            o.bank = value();
        } else if (a == "--select") {
            o.select = parseInteger(a, value(), 0, 1 << 20);
        } else if (a == "--set") {
            o.sets.push_back(value());
        } else if (a == "--list-params") {
            o.listParams = true;
        } else if (a == "--all") {
            o.allParams = true;
        } else if (a == "--allow-silence") {
            o.allowSilence = true;
        } else if (a == "--midi") {
            o.midi = value();
        } else if (a == "--tempo") {
            o.tempo = parseNumber(a, value(), 1.0, 1000.0);
        } else if (a == "--out") {
            o.out = value();
        } else if (a == "--format") {
            const std::string f = value();
            if (f == "float")
                o.format = SampleFormat::Float32;
            else if (f == "pcm24")
                o.format = SampleFormat::Pcm24;
            else if (f == "pcm16")
                o.format = SampleFormat::Pcm16;
            else
                fail("--format must be float, pcm24 or pcm16, got '" + f + "'", 2);
        } else if (a == "--rate") {
            o.rate = parseInteger(a, value(), 8000, 384000);
        } else if (a == "--block") {
            o.block = parseInteger(a, value(), 1, 8192);
        } else if (a == "--tail") {
            o.tail = parseNumber(a, value(), 0.0, 600.0);
        } else if (a == "--save-program") {
            o.saveProgram = value();
        } else if (a == "--save-bank") {
            o.saveBank = value();
        } else if (a == "--quiet" || a == "-q") {
            o.quiet = true;
        } else {
            fail("unknown option '" + a + "' (see --help)", 2);
        }
    }
    if (o.select >= 0 && o.bank.empty()) fail("--select needs --bank", 2);
    if (o.allParams && !o.listParams) fail("--all goes with --list-params", 2);
    // Without anything to load, play or save, the tool renders the bundled demo (output
    // options such as --out, --format, --rate or --quiet still apply).
    const bool nothingAsked = o.midi.empty() && !o.listParams && o.saveProgram.empty() &&
                              o.saveBank.empty() && o.instrument.empty() && o.program.empty() &&
                              o.bank.empty() && o.sets.empty();
    if (nothingAsked) {
        const std::string demo = findDemoFolder();
        o.demo = true;
        if (fs::exists(demo + "/demo.fxp")) o.program = demo + "/demo.fxp";
        o.instrument = demo + "/demo.sfz";
        o.midi = demo + "/demo.mid";
        if (o.out.empty()) o.out = "demo.wav";
        return o;
    }
    if (!o.out.empty() && o.midi.empty()) fail("--out needs --midi: there is nothing to play", 2);
    if (!o.midi.empty() && o.out.empty()) o.out = "out.wav";
    return o;
}

// ----- state loading through the VST interface -----

void loadFxFile(Plugin& p, const std::string& path, bool wantBank) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!readWholeFile(path, bytes, error)) fail(error);
    FxFile file;
    if (!parseFxFile(bytes.data(), bytes.size(), file, error)) fail(path + ": " + error);
    if (file.isBank != wantBank)
        fail(path + " is a " + (file.isBank ? "bank" : "program") + " file; use " +
             (file.isBank ? "--bank" : "--program"));
    const vst::AEffect* e = p.effect();
    if (file.fxID != e->uniqueID)
        fail(path + " belongs to the plug-in " + fourCCText(file.fxID) + ", not to " +
             fourCCText(e->uniqueID));
    if (!(e->flags & vst::effFlagsProgramChunks))
        fail("the plug-in does not take chunks, so " + path + " cannot be loaded");
    p.setChunk(file.chunk.data(), file.chunk.size(), !wantBank);
}

void saveFxFile(Plugin& p, const std::string& path, bool bank) {
    const vst::AEffect* e = p.effect();
    if (!(e->flags & vst::effFlagsProgramChunks))
        fail("the plug-in does not keep its state in chunks; --save-program/--save-bank need that");
    const std::vector<uint8_t> chunk = p.getChunk(!bank);
    if (chunk.empty())
        fail("the plug-in returned no " + std::string(bank ? "bank" : "program") + " chunk");
    std::vector<uint8_t> bytes;
    if (bank) {
        bytes = buildBankFile(e->uniqueID, e->version, e->numPrograms, chunk);
    } else {
        // Corvane counts all stored slots of a patch; its chunk header says how many.
        int32_t numParams = e->numParams;
        if (e->uniqueID == kCorvaneId && chunk.size() >= 4)
            numParams = chunk[0] | (chunk[1] << 8) | (chunk[2] << 16) | (chunk[3] << 24);
        bytes = buildProgramFile(e->uniqueID, e->version, numParams, p.programName(), chunk);
    }
    std::string error;
    if (!writeWholeFile(path, bytes, error)) fail(error);
}

// The stored form of a folder: backslashes, ending in a backslash.
std::string storedFolder(const fs::path& folder) {
    std::string s = folder.string();
    std::replace(s.begin(), s.end(), '/', '\\');
    if (s.empty() || s.back() != '\\') s += '\\';
    return s;
}

// Points the current program at an instrument file the way a host's session restore does:
// the program chunk with the file's folder and name, given back with effSetChunk.
void loadInstrument(Plugin& p, const std::string& path) {
    const vst::AEffect* e = p.effect();
    if (e->uniqueID != kCorvaneId) fail("--instrument works with Corvane only");
    std::string upper = fs::path(path).filename().string();
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool known =
        upper.find(".SFZ") != std::string::npos || upper.find(".REX") != std::string::npos ||
        upper.find(".RX2") != std::string::npos || upper.find(".RCY") != std::string::npos;
    if (!known) fail(path + " is not an SFZ or REX instrument (.sfz, .rex, .rx2, .rcy)");
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fail("cannot open instrument " + path + ": " + std::strerror(errno));
    std::fclose(f);
    std::error_code ec;
    if (fs::is_directory(path, ec)) fail(path + " is a folder, not an instrument file");

    const fs::path full = fs::absolute(fs::path(path), ec).lexically_normal();
    const std::string folder = storedFolder(full.parent_path());
    const std::string name = full.filename().string();
    if (folder.size() > kMaxFolder)
        fail("the folder of " + path + " is longer than " + std::to_string(kMaxFolder) +
             " characters");
    if (name.size() > kMaxFile)
        fail("the file name " + name + " is longer than " + std::to_string(kMaxFile) +
             " characters");

    std::vector<uint8_t> chunk = p.getChunk(true);
    if (chunk.size() < kProgramChunkSize) fail("the plug-in returned no program chunk");
    std::memset(&chunk[kFolderOffset], 0, kFolderField);
    std::memcpy(&chunk[kFolderOffset], folder.data(), folder.size());
    std::memset(&chunk[kFileOffset], 0, kFileField);
    std::memcpy(&chunk[kFileOffset], name.data(), name.size());
    p.setChunk(chunk.data(), chunk.size(), true);
}

// ----- parameters -----

// The slots a host can set and read: the host parameters, and for Corvane every slot its
// programs store (its program chunk's header counts them; they answer to the parameter
// calls by number past the host parameters).
struct ParamTable {
    int hostCount = 0;
    std::vector<std::string> names;   // as the plug-in names them
    std::vector<std::string> unique;  // shared names made unique with "#SLOT"
};

ParamTable paramTable(Plugin& p) {
    ParamTable t;
    t.hostCount = std::max<int32_t>(p.effect()->numParams, 0);
    int count = t.hostCount;
    if (p.effect()->uniqueID == kCorvaneId) {
        const std::vector<uint8_t> chunk = p.getChunk(true);
        if (chunk.size() >= kProgramChunkSize) {
            const int32_t stored = static_cast<int32_t>(
                chunk[0] | (chunk[1] << 8) | (chunk[2] << 16) | (uint32_t{chunk[3]} << 24));
            if (stored > count && stored <= 4096) count = stored;
        }
    }
    for (int i = 0; i < count; ++i)
        t.names.push_back(p.paramName(i));
    t.unique = uniqueParamNames(t.names);
    return t;
}

// Applies one --set; returns the slot it set.
int applySetting(Plugin& p, const ParamTable& table, const std::string& setting) {
    const size_t eq = setting.rfind('=');
    if (eq == std::string::npos || eq == 0)
        fail("--set needs NAME=VALUE, got '" + setting + "'", 2);
    const std::string key = setting.substr(0, eq);
    const std::string valueText = setting.substr(eq + 1);
    std::string error;
    const int index = findParam(table.names, table.unique, key, error);
    if (index < 0) fail(error);
    char* end = nullptr;
    const double v = std::strtod(valueText.c_str(), &end);
    const bool host = index < table.hostCount;
    if (valueText.empty() || *end != 0 || !std::isfinite(v))
        fail("--set " + key + " needs a number" + (host ? " 0..1" : "") + ", got '" + valueText +
                 "'",
             2);
    // Host parameters are normalised; the stored slots past them keep their own values
    // (switch positions, type and source numbers), which the plug-in holds to their range.
    if (host && (v < 0.0 || v > 1.0))
        fail("--set " + key + ": the value " + valueText + " lies outside 0..1", 2);
    if (!host && std::fabs(v) > 1e6)
        fail("--set " + key + ": the value " + valueText + " is out of any slot's range", 2);
    p.setParameter(index, static_cast<float>(v));
    return index;
}

std::string displayOf(Plugin& p, int index) {
    std::string shown = p.paramDisplay(index);
    const std::string label = p.paramLabel(index);
    if (!label.empty()) shown += " " + label;
    return shown;
}

void listParams(Plugin& p, const ParamTable& table, bool all) {
    const int count = all ? static_cast<int>(table.names.size()) : table.hostCount;
    for (int i = 0; i < count; ++i)
        std::printf("%3d  %-20s  %-14s (%.6g)\n", i, table.unique[i].c_str(),
                    displayOf(p, i).c_str(), p.getParameter(i));
}

// ----- what was loaded -----

// The plug-in's console lines, shown again with this system's path separators, and the
// problems found while loading: the plug-in's error lines and the tool's own findings.
class LoadReport {
  public:
    explicit LoadReport(std::FILE* console) : console_(console) {}

    void absorb(const std::string& captured) {
        for (std::string line : splitLines(captured)) {
            line = withOsSeparators(line);
            std::fprintf(console_, "%s\n", line.c_str());
            if (isErrorLine(line)) problems_.push_back(line);
        }
    }
    void finding(const std::string& text) {
        std::fprintf(console_, "corvane-render: %s\n", text.c_str());
        problems_.push_back(text);
    }
    bool mentions(const std::string& part) const {
        for (const std::string& p : problems_)
            if (p.find(part) != std::string::npos) return true;
        return false;
    }
    size_t count() const { return problems_.size(); }
    std::FILE* console() const { return console_; }

  private:
    std::FILE* console_;
    std::vector<std::string> problems_;
};

// The instrument the current program names: its stored folder and file name.
struct InstrumentRef {
    std::string folder, file;
    bool empty() const { return file.empty(); }
};

std::string chunkText(const std::vector<uint8_t>& chunk, size_t offset, size_t field) {
    const char* text = reinterpret_cast<const char*>(chunk.data() + offset);
    return std::string(text, strnlen(text, field));
}

InstrumentRef programInstrument(Plugin& p) {
    const std::vector<uint8_t> chunk = p.getChunk(true);
    if (chunk.size() < kProgramChunkSize) return {};
    return {chunkText(chunk, kFolderOffset, kFolderField),
            chunkText(chunk, kFileOffset, kFileField)};
}

std::string upperCase(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Looks at the instrument file the way the plug-in reads it, for what plays nothing without
// the plug-in saying so. Answers the number of regions of an SFZ file, -1 for anything else.
int inspectInstrument(const InstrumentRef& ref, LoadReport& report) {
    if (ref.empty()) return -1;
    const std::string path = osPathOf(ref.folder, ref.file);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        // Not where the program says: the plug-in may have found it in a folder nearby, or
        // said that it did not.
        if (report.mentions("(" + ref.file + ")"))
            report.finding("the program's instrument " + path +
                           " is missing (not there, nor in the folders around it)");
        return -1;
    }
    if (upperCase(ref.file).find(".SFZ") == std::string::npos) return -1;
    std::ifstream in(path, std::ios::binary);
    std::string text(kMaxSfzBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    const SfzSummary sfz = summariseSfz(text);
    if (sfz.regions == 0)
        report.finding(path +
                       " has no <region>: nothing to play (only <region> headers make zones; "
                       "<group>, <global>, <control> and #include are not read)");
    for (const SfzSummary::Unreadable& u : sfz.unreadable) {
        const std::string where =
            path + ", region " + std::to_string(u.region) + ": sample " + u.sample;
        if (u.extension.empty())
            report.finding(where + " has no file extension; only WAV samples are read");
        else
            report.finding(where + " is " + u.extension +
                           ", which is not read; only WAV samples are");
    }
    return sfz.regions;
}

// ----- rendering -----

class Progress {
  public:
    Progress(bool show, std::FILE* out) : show_(show), out_(out) {}
    void update(double fraction) {
        if (!show_) return;
        const int percent = static_cast<int>(fraction * 100.0);
        if (percent == last_) return;
        last_ = percent;
        const int width = 40;
        const int filled = percent * width / 100;
        std::fprintf(out_, "\r[%.*s%*s] %3d%%", filled, "########################################",
                     width - filled, "", percent);
        std::fflush(out_);
    }
    void finish() {
        if (show_ && last_ >= 0) std::fputs("\r\033[K", out_);
    }

  private:
    bool show_;
    std::FILE* out_;
    int last_ = -1;
};

struct RenderResult {
    int64_t frames = 0;
    double seconds = 0.0;
    float peak = 0.0f;
    int64_t beyondFullScale = 0;  // samples past -1..1, which a PCM file clips
};

RenderResult render(Plugin& p, const MidiSong& song, const Options& o, Progress& progress) {
    const int64_t total =
        static_cast<int64_t>(std::ceil((song.endSeconds + o.tail) * o.rate - 1e-6));
    if (total > static_cast<int64_t>(kMaxSeconds * o.rate))
        fail("the MIDI file lasts longer than 6 hours; refusing to render it");

    std::string openError;
    std::unique_ptr<WavOut> file =
        openWavOut(o.out, static_cast<int>(o.rate), o.format, &openError);
    if (!file) fail(openError);

    vst::AEffect* e = p.effect();
    const size_t block = static_cast<size_t>(o.block);
    const int outs = std::max<int32_t>(e->numOutputs, 1);
    const int ins = std::max<int32_t>(e->numInputs, 0);
    std::vector<std::vector<float>> outBuffers(outs, std::vector<float>(block));
    std::vector<std::vector<float>> inBuffers(ins, std::vector<float>(block, 0.0f));
    std::vector<float*> outPtrs(outs), inPtrs(std::max(ins, 1), nullptr);
    for (int c = 0; c < outs; ++c)
        outPtrs[c] = outBuffers[c].data();
    for (int c = 0; c < ins; ++c)
        inPtrs[c] = inBuffers[c].data();
    std::vector<float> interleaved(block * 2);
    std::vector<corvane::testhost::MidiMessage> now;
    const bool replacing = (e->flags & vst::effFlagsCanReplacing) && e->processReplacing;

    // Frame of every event, rounded to the nearest frame.
    std::vector<int64_t> frames(song.events.size());
    for (size_t i = 0; i < song.events.size(); ++i)
        frames[i] = static_cast<int64_t>(std::floor(song.events[i].seconds * o.rate + 0.5));

    RenderResult result;
    size_t next = 0;
    p.samplePos = 0;
    for (int64_t done = 0; done < total; done += o.block) {
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(o.block, total - done));
        const double t = done / o.rate;
        p.tempo = song.bpmAt(t);
        p.ppqPos = song.quartersAt(t);
        now.clear();
        while (next < frames.size() && frames[next] < done + n) {
            corvane::testhost::MidiMessage m;
            m.deltaFrames = static_cast<int32_t>(std::max<int64_t>(0, frames[next] - done));
            std::memcpy(m.bytes, song.events[next].bytes, 3);
            if (song.events[next].size < 3) m.bytes[2] = 0;
            now.push_back(m);
            ++next;
        }
        p.sendMidi(now);
        if (replacing) {
            e->processReplacing(e, inPtrs.data(), outPtrs.data(), n);
        } else {
            for (auto& b : outBuffers)
                std::fill(b.begin(), b.begin() + n, 0.0f);
            e->process(e, inPtrs.data(), outPtrs.data(), n);
        }
        p.samplePos += n;
        const float* left = outPtrs[0];
        const float* right = outs > 1 ? outPtrs[1] : outPtrs[0];
        for (int32_t i = 0; i < n; ++i) {
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
            const float l = std::fabs(left[i]), r = std::fabs(right[i]);
            result.peak = std::max(result.peak, std::max(l, r));
            result.beyondFullScale += (l > 1.0f) + (r > 1.0f);
        }
        if (!file->write(interleaved.data(), n)) fail("cannot write " + o.out + " (disk full?)");
        result.frames += n;
        progress.update(static_cast<double>(result.frames) / total);
    }
    progress.finish();
    if (!file->close()) fail("cannot finish writing " + o.out);
    result.seconds = result.frames / o.rate;
    return result;
}

// Ends the run when loading went wrong, unless the user opted out.
void judgeLoading(const LoadReport& report, const Options& o) {
    if (report.count() == 0) return;
    if (o.allowSilence) {
        std::fprintf(report.console(),
                     "corvane-render: going on despite the problems above (--allow-silence)\n");
        return;
    }
    fail(
        "the instrument did not load completely (see above); stopping before anything is "
        "listed, saved or rendered (--allow-silence goes on anyway)",
        kContentStatus);
}

int run(int argc, char** argv) {
    const Options o = parseOptions(argc, argv);
    const bool terminal = corvane::platform::stderrIsTerminal();

    // Read the song before loading anything, so that a bad file fails fast.
    MidiSong song;
    if (!o.midi.empty()) {
        std::string error;
        if (!loadMidiFile(o.midi, song, error, o.tempo)) fail(error);
    }

    const std::string pluginPath =
        o.plugin.empty() ? exeFolder() + "/" + corvane::platform::pluginFileName("Corvane")
                         : o.plugin;
    std::string error;
    corvane::testhost::HostOptions hostOptions;
    hostOptions.vendor = "Tessel Audio Tools";
    hostOptions.product = "corvane-render";
    std::unique_ptr<Plugin> plugin = Plugin::load(pluginPath, &error, hostOptions);
    if (!plugin) fail(error.empty() ? "cannot load " + pluginPath : error);
    Plugin& p = *plugin;
    if (p.effect()->numOutputs < 1) fail(pluginPath + " has no audio outputs");
    const bool corvane = p.effect()->uniqueID == kCorvaneId;

    // Corvane reports loading problems as console lines; they are read back after each
    // step. Other plug-ins' output passes through untouched.
    std::optional<StderrCapture> capture;
    if (corvane) capture.emplace();
    LoadReport report(capture ? capture->console() : stderr);
    auto collect = [&] {
        if (capture) report.absorb(capture->take());
    };

    p.start(o.rate, o.block);
    p.tempo = song.tempo.empty() ? 120.0 : song.tempo.front().bpm;
    collect();

    if (!o.bank.empty()) loadFxFile(p, o.bank, true);
    if (o.select >= 0) {
        if (o.select >= p.effect()->numPrograms)
            fail("--select " + std::to_string(o.select) + ": the bank has " +
                 std::to_string(p.effect()->numPrograms) + " programs (0.." +
                 std::to_string(p.effect()->numPrograms - 1) + ")");
        p.setProgram(o.select);
    }
    if (!o.program.empty()) loadFxFile(p, o.program, false);
    if (!o.instrument.empty()) loadInstrument(p, o.instrument);
    collect();
    const InstrumentRef instrument = corvane ? programInstrument(p) : InstrumentRef{};
    const int regions = inspectInstrument(instrument, report);
    judgeLoading(report, o);

    // Without a song the tool says what it did, unless it printed a list already.
    const bool tell = o.midi.empty() && !o.quiet && !o.listParams;
    if (tell && !o.instrument.empty()) {
        std::printf("loaded %s", osPathOf(instrument.folder, instrument.file).c_str());
        if (regions >= 0) std::printf(" (%d region%s)", regions, regions == 1 ? "" : "s");
        std::printf(" into program %d \"%s\"\n", p.program(), p.programName().c_str());
    }

    const ParamTable table = o.sets.empty() && !o.listParams ? ParamTable{} : paramTable(p);
    for (const std::string& s : o.sets) {
        const int slot = applySetting(p, table, s);
        if (tell)
            std::printf("set %d %s to %g (%s)\n", slot, table.unique[slot].c_str(),
                        p.getParameter(slot), displayOf(p, slot).c_str());
    }
    if (o.listParams) listParams(p, table, o.allParams);
    if (!o.saveProgram.empty()) {
        saveFxFile(p, o.saveProgram, false);
        if (tell)
            std::printf("saved program \"%s\" to %s\n", p.programName().c_str(),
                        o.saveProgram.c_str());
    }
    if (!o.saveBank.empty()) {
        saveFxFile(p, o.saveBank, true);
        if (tell)
            std::printf("saved the bank of %d programs to %s\n", p.effect()->numPrograms,
                        o.saveBank.c_str());
    }
    if (o.midi.empty()) {
        if (tell && o.saveProgram.empty() && o.saveBank.empty())
            std::printf(
                "nothing was played or saved: --midi FILE.mid plays a song, "
                "--save-program FILE.fxp keeps the program\n");
        return 0;
    }

    if (corvane && instrument.empty() && !o.allowSilence)
        fail(
            "nothing to play: the program names no instrument (--instrument FILE.sfz or "
            "--program FILE.fxp loads one; --allow-silence renders anyway)",
            kContentStatus);

    const auto start = std::chrono::steady_clock::now();
    Progress progress(!o.quiet && terminal, report.console());
    const RenderResult r = render(p, song, o, progress);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Program changes in the song load instruments too.
    const size_t problemsBefore = report.count();
    collect();
    if (!o.quiet) {
        char peak[32];
        if (r.peak > 0.0f)
            std::snprintf(peak, sizeof peak, "%.1f dBFS", 20.0 * std::log10(r.peak));
        else
            std::snprintf(peak, sizeof peak, "-inf dBFS (silent)");
        std::printf("rendered %.1f s of audio in %.2f s (%.0fx realtime), peak %s -> %s\n",
                    r.seconds, took, took > 0.0 ? r.seconds / took : 0.0, peak, o.out.c_str());
        std::fflush(stdout);
    }
    if (r.beyondFullScale > 0 && o.format != SampleFormat::Float32)
        std::fprintf(report.console(),
                     "corvane-render: warning: %lld of %lld samples lay beyond full scale "
                     "(peak %+.1f dBFS) and were clipped in the %s-bit file; lower the "
                     "Volume or use --format float\n",
                     static_cast<long long>(r.beyondFullScale),
                     static_cast<long long>(2 * r.frames), 20.0 * std::log10(r.peak),
                     o.format == SampleFormat::Pcm16 ? "16" : "24");
    if (o.allowSilence) return 0;
    if (report.count() > problemsBefore)
        fail("an instrument the song selected did not load completely (see above)", kContentStatus);
    if (!(r.peak > 0.0f))
        fail("the output is silent: no note of the song made a sound (" + o.out +
                 " was written; --allow-silence accepts a silent render)",
             kContentStatus);
    return 0;
}

}  // namespace
}  // namespace corvane::render

int main(int argc, char** argv) {
    try {
        return corvane::render::run(argc, argv);
    } catch (const corvane::render::Failure& f) {
        std::fflush(stdout);
        std::fprintf(stderr, "corvane-render: %s\n", f.message.c_str());
        return f.status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvane-render: %s\n", e.what());
        return 1;
    }
}
