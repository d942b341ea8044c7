// qhost's pauses, seeks and stop: the options' parse, the sweep signal (no window of it repeats),
// the attribution of a device's bytes to the track (the measure behind the seek verdict), the
// edges of a stream and the silence taken out of a WaveRT stream, and runs of qhost.exe on the
// simulated devices, judged by the verdict's lines.
#include "tests/waits.h"
#include "tools/common/asdevice.h"
#include "tools/common/hostenv.h"
#include "tools/qhost/attribution.h"
#include "tools/qhost/audio.h"
#include "tools/qhost/edges.h"
#include "tools/qhost/rtverdict.h"
#include "tools/qhost/seek.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

TEST(QhostOptions, SeekAndStopParse) {
    const struct {
        const char* seek;
        bool ok;
        int at, to;
    } seeks[] = {{"1000:3000", true, 1000, 3000}, {"0:0", true, 0, 0},   {"1000", false, 0, 0},
                 {"1000:", false, 0, 0},          {"-1:5", false, 0, 0}, {"5:-1", false, 0, 0},
                 {"1000:3000x", false, 0, 0},     {"a:b", false, 0, 0}};
    for (const auto& c : seeks) {
        SeekPlan plan;
        EXPECT_EQ(c.ok, ParseSeek(c.seek, plan)) << c.seek;
        if (c.ok) {
            ASSERT_EQ(1u, plan.seeks.size()) << c.seek;
            EXPECT_EQ(c.at, plan.seeks[0].atMs) << c.seek;
            EXPECT_EQ(c.to, plan.seeks[0].toMs) << c.seek;
        }
    }
    const struct {
        const char* stop;
        bool ok;
    } stops[] = {{"1500", true}, {"0", true}, {"-1", false}, {"15x", false}, {"", false}};
    for (const auto& c : stops) {
        SeekPlan plan;
        EXPECT_EQ(c.ok, ParseStop(c.stop, plan)) << c.stop;
        EXPECT_EQ(c.ok, plan.Any()) << c.stop;
    }
    SeekPlan twice;
    EXPECT_TRUE(ParseSeek("1000:3000", twice) && ParseSeek("3500:0", twice));
    ASSERT_EQ(2u, twice.seeks.size());
    EXPECT_EQ(3500, twice.seeks[1].atMs);
    const struct {
        const char* pause;
        bool ok;
        int at, resume;
    } pauses[] = {{"1000:1500", true, 1000, 1500},
                  {"1000:1000", false, 0, 0},
                  {"-1:500", false, 0, 0},
                  {"1000:1500ms", false, 0, 0}};
    for (const auto& c : pauses) {
        SeekPlan plan;
        EXPECT_EQ(c.ok, ParsePause(c.pause, plan)) << c.pause;
        EXPECT_EQ(c.ok, plan.Any()) << c.pause;
        if (c.ok) {
            ASSERT_EQ(1u, plan.pauses.size()) << c.pause;
            EXPECT_EQ(c.at, plan.pauses[0].atMs) << c.pause;
            EXPECT_EQ(c.resume, plan.pauses[0].resumeMs) << c.pause;
        }
    }
}

// Every 32-frame window of the sweep is its own, it reaches full scale, and none of its frames is
// silent.
TEST(QhostSignals, SweepWindowsAreUniqueAndFullScale) {
    for (const char* source : {"sweep:44100:2:16:2.5", "sweep:48000:1:8:2.5",
                               "sweep:96000:2:24:1.2", "sweep:44100:2:32:1.2"}) {
        Track t;
        std::string error;
        ASSERT_TRUE(LoadTrack(source, t, error)) << source << ": " << error;
        size_t bytes = (size_t)t.bits / 8, frame = bytes * t.channels, window = 32 * frame;
        std::unordered_map<std::string, size_t> seen;
        bool unique = true;
        for (size_t at = 0; unique && at + window <= t.data.size(); at += frame)
            unique = seen.emplace(std::string(&t.data[at], window), at).second;
        EXPECT_TRUE(unique) << source;
        long long full = (1LL << (t.bits - 1)) - 1, peak = 0;
        bool silentFrame = false;
        for (size_t at = 0; at < t.data.size(); at += frame) {
            bool silent = true;
            for (size_t k = 0; k < frame; k += bytes) {
                long long v = asdevice::Top(&t.data[at + k], (int)bytes) >> (32 - t.bits);
                peak = v < 0 ? (-v > peak ? -v : peak) : (v > peak ? v : peak);
                silent = silent && v == 0;
            }
            silentFrame = silentFrame || silent;
        }
        EXPECT_GE(peak, full - full / 10000 - 1) << source; // within 0.01 % of full scale
        EXPECT_FALSE(silentFrame) << source;
    }
}

// A track of 4-byte frames that no window repeats, and a device stream made of its parts.
std::vector<char> Track(size_t frames) {
    std::vector<char> t(frames * 4);
    unsigned v = 12345;
    for (char& c : t) {
        v = v * 1103515245u + 12345u;
        c = (char)(v >> 16 | 1);
    }
    return t;
}

void Append(std::vector<char>& to, const std::vector<char>& track, size_t from, size_t bytes) {
    to.insert(to.end(), track.begin() + (ptrdiff_t)from, track.begin() + (ptrdiff_t)(from + bytes));
}

TEST(QhostAttribution, PiecesOfPrerollOldPlaceAndNewPlace) {
    std::vector<char> track = Track(4000), got(400, 0), noise(40, 0x55);
    Append(got, track, 0, 4000);     // the start, after 100 frames of pre-roll
    Append(got, track, 12000, 2000); // the new place, right after the old one
    got.insert(got.end(), noise.begin(), noise.end());
    Append(got, track, 14000, 2000); // on after 10 frames that are no part of the track
    got.insert(got.end(), 400, 0);   // the closing silence
    const struct {
        PlayedPiece::Kind kind;
        unsigned long long device;
        size_t bytes, track;
    } want[] = {{PlayedPiece::kSilence, 0, 400, 0},       {PlayedPiece::kAudio, 400, 4000, 0},
                {PlayedPiece::kAudio, 4400, 2000, 12000}, {PlayedPiece::kOther, 6400, 40, 0},
                {PlayedPiece::kAudio, 6440, 2000, 14000}, {PlayedPiece::kSilence, 8440, 400, 0}};
    for (size_t step : {got.size(), (size_t)4, (size_t)333}) { // fed at once and in small parts
        Attribution a(track, 4, 0);
        for (size_t at = 0; at < got.size(); at += step)
            a.Feed(&got[at], got.size() - at < step ? got.size() - at : step);
        a.Finish();
        ASSERT_EQ(sizeof want / sizeof want[0], a.Pieces().size()) << "step " << step;
        for (size_t i = 0; i < a.Pieces().size(); i++) {
            const PlayedPiece& p = a.Pieces()[i];
            EXPECT_EQ(want[i].kind, p.kind) << "piece " << i << ", step " << step;
            EXPECT_EQ(want[i].device, p.device) << "piece " << i << ", step " << step;
            EXPECT_EQ(want[i].bytes, p.bytes) << "piece " << i << ", step " << step;
            EXPECT_EQ(want[i].track, p.track) << "piece " << i << ", step " << step;
        }
        EXPECT_EQ(0u, a.TrackAt(400));
        EXPECT_EQ(4000u, a.TrackAt(4400));
        EXPECT_EQ(12100u, a.TrackAt(4500));
        EXPECT_EQ(14000u, a.TrackAt(6420)); // within the bytes of no place: where the audio ended
        PlayedSplit s = a.Split(4000, 6500);
        EXPECT_EQ(2460u, s.audio);
        EXPECT_EQ(40u, s.other);
    }
}

WAVEFORMATEX Format(int rate, int channels, int bits) {
    WAVEFORMATEX f = {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = (WORD)channels;
    f.nSamplesPerSec = (DWORD)rate;
    f.wBitsPerSample = (WORD)bits;
    f.nBlockAlign = (WORD)(channels * bits / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    return f;
}

// A stream of 16-bit stereo frames: each of `frames` frames holds `left` and `right`.
void Frames(std::vector<char>& to, size_t frames, short left, short right) {
    for (size_t i = 0; i < frames; i++)
        for (short v : {left, right})
            to.insert(to.end(), {(char)(v & 0xFF), (char)(v >> 8)});
}

// The places where a stream's sound stops and starts, and the samples next to them: a silence of
// a millisecond or more is a gap, a shorter one is not; the largest channel counts.
TEST(QhostEdges, SilenceEdgesOfASyntheticStream) {
    std::vector<char> got;
    Frames(got, 10, 1000, -32767); // frames 0..9
    Frames(got, 20, 0, 0);         // a gap of 20 frames (2.5 ms)
    Frames(got, 5, 16384, 3);      // frames 30..34
    Frames(got, 3, 0, 0);          // too short for a gap
    Frames(got, 5, -8, 4096);      // frames 38..42
    Frames(got, 10, 0, 0);         // the closing silence
    const struct {
        bool started;
        size_t frame;
        double peak;
    } want[] = {{true, 0, 32767}, {false, 10, 32767}, {true, 30, 16384}, {false, 43, 4096}};
    std::vector<SilenceEdge> edges = SilenceEdges(got, Format(8000, 2, 16), 8);
    ASSERT_EQ(sizeof want / sizeof want[0], edges.size());
    for (size_t i = 0; i < edges.size(); i++) {
        EXPECT_EQ(want[i].started, edges[i].started) << "edge " << i;
        EXPECT_EQ(want[i].frame, edges[i].frame) << "edge " << i;
        EXPECT_DOUBLE_EQ(want[i].peak / 32768, edges[i].peak) << "edge " << i;
    }
    const struct {
        int bits;
        std::vector<char> bytes;
        double before, at; // next to byte offset 1 frame in
    } formats[] = {{8, {(char)0xFF, (char)0x80}, 127 / 128.0, 0},
                   {24, {0, 0, 0x40, 0, 0, (char)0xC0}, 0.5, 0.5},
                   {32, {0, 0, 0, (char)0x80, 1, 0, 0, 0}, 1, 1 / 2147483648.0}};
    for (const auto& c : formats) {
        WAVEFORMATEX f = Format(8000, 1, c.bits);
        EXPECT_DOUBLE_EQ(c.before, PeakNext(c.bytes, f.nBlockAlign, true, f)) << c.bits;
        EXPECT_DOUBLE_EQ(c.at, PeakNext(c.bytes, f.nBlockAlign, false, f)) << c.bits;
        EXPECT_EQ(0, PeakNext(c.bytes, 0, true, f)) << c.bits;
    }
}

// A WaveRT stream's added silence comes out, the track's own silent frames stay where they are:
// at the track's start and at a seek's new place, and so do the silent frames a fade-in begins
// with; the gap a seek made is told apart.
TEST(QhostRtSilence, OwnSilentFramesStayAndSeekGapsAreTheirOwn) {
    std::vector<char> track = Track(400);
    memset(&track[0], 0, 4);   // the track begins with a silent frame
    memset(&track[800], 0, 4); // and so does the place a seek goes to
    std::vector<char> want(track.begin(), track.begin() + 400), got(40, 0);
    want.insert(want.end(), track.begin() + 800, track.end());
    Append(got, track, 0, 400);
    got.insert(got.end(), 60, 0); // the silence from the Flush to the new place
    Append(got, track, 800, 800);
    got.insert(got.end(), 20, 0);
    std::vector<char> faded = got; // the new place faded in: two silent frames, then quiet ones
    memset(&faded[504], 0, 4);
    memset(&faded[508], 0x11, 32);
    const struct {
        const std::vector<char>* got;
        std::vector<DeviceSpan> seeks;
        size_t fadeFrames;
        int gaps, seekGaps;
    } cases[] = {
        {&got, {}, 0, 1, 0}, {&got, {{400, 500}}, 0, 0, 1}, {&faded, {{400, 500}}, 10, 0, 1}};
    for (const auto& c : cases) {
        RtShape shape;
        shape.block = 4;
        shape.seeks = c.seeks;
        shape.fadeBytes = c.fadeFrames * 4;
        shape.fadeQuiet = c.fadeFrames ? 12 : 0;
        RtPlayed r = TakeOutSilence(*c.got, want, shape);
        std::vector<char> heard(c.got->begin() + 40, c.got->begin() + 444);
        heard.insert(heard.end(), c.got->begin() + 504, c.got->begin() + 1300);
        EXPECT_TRUE(r.audio == heard) << c.seeks.size() << c.fadeFrames;
        EXPECT_EQ(c.gaps, r.gaps) << c.seeks.size() << c.fadeFrames;
        EXPECT_EQ(c.seekGaps, r.seekGaps) << c.seeks.size() << c.fadeFrames;
        EXPECT_EQ(60u, r.gapBytes + r.seekGapBytes) << c.seeks.size() << c.fadeFrames;
    }
}

// Runs qhost.exe from this folder and gives back what it printed and its exit code.
bool RunQhost(const std::string& args, std::string& output, DWORD& code) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    HANDLE read = NULL, write = NULL;
    if (!CreatePipe(&read, &write, &sa, 0))
        return false;
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = write;
    PROCESS_INFORMATION pi = {};
    std::string command = "\"" + hostenv::ExeFolder() + "\\qhost.exe\" " + args;
    BOOL started = CreateProcessA(NULL, &command[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi);
    CloseHandle(write);
    char buffer[4096];
    DWORD n;
    while (started && ReadFile(read, buffer, sizeof buffer, &n, NULL) && n)
        output.append(buffer, n);
    CloseHandle(read);
    if (!started)
        return false;
    bool ended = WaitForSingleObject(pi.hProcess, kHangMs) == WAIT_OBJECT_0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    // qhost keeps its settings, and the plug-in its log, beside qhost.exe.
    DeleteFileA((hostenv::ExeFolder() + "\\qhost.ini").c_str());
    DeleteFileA((hostenv::ExeFolder() + "\\quellor log.txt").c_str());
    return ended;
}

// On packets, and faded on the WaveRT device, whose buffer plays silence around the pause.
TEST(QhostRun, PauseAndSeekVerdictSaysWhatPlayedOfEachPlace) {
    for (const char* device :
         {"--clock realtime:8", "--clock realtime:1 --wavert event --set fade_ms=20"}) {
        std::string out;
        DWORD code = 1;
        ASSERT_TRUE(RunQhost(std::string("play --sim --quiet ") + device +
                                 " --set gapless_enabled=0 "
                                 "--clock-figures --edges --pause 150:250 --seek 300:900 "
                                 "sweep:44100:2:16:1.5",
                             out, code))
            << out;
        for (const char* line :
             {"  seek at 300 ms to 900 ms: the device played during Flush ",
              "    after Flush returned, of the old place: ", "    the new place: from 900.0 ms",
              "played whole from its first byte",
              "  pause at 150 ms, resumed 100 ms later: the device played during Pause(1) ",
              "    across the pause: nothing lost, nothing played twice",
              "    pause at 150 ms, the sound stopped at ",
              "    seek at 300 ms, the new place's start at ",
              "      stream 0: GetOutputTime - device: median ", "  bit-exact: yes",
              "  result: clean"})
            EXPECT_NE(std::string::npos, out.find(line)) << line << "\n" << out;
        EXPECT_EQ(0u, code) << out;
    }
}

} // namespace
