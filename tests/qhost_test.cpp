// qhost's seeks and stop: the options' parse, the attribution of a device's bytes to the track
// (the measure behind the seek verdict), and one seek run of qhost.exe on the simulated devices,
// judged by the verdict's lines.
#include "tests/waits.h"
#include "tools/common/hostenv.h"
#include "tools/qhost/attribution.h"
#include "tools/qhost/seek.h"

#include <gtest/gtest.h>

#include <string>
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

TEST(QhostRun, SeekVerdictSaysWhatPlayedOfEachPlace) {
    std::string out;
    DWORD code = 1;
    ASSERT_TRUE(RunQhost("play --sim --quiet --clock realtime:8 --set gapless_enabled=0 "
                         "--clock-figures --seek 300:900 tone:44100:2:16:1.5",
                         out, code))
        << out;
    for (const char* line :
         {"  seek at 300 ms to 900 ms: the device played during Flush ",
          "    after Flush returned, of the old place: ",
          "    the new place: from 900.0 ms, played whole from its first byte",
          "  clock figures (sampled every 20 ms;", "tone:44100:2:16:1.5: Open returned ",
          " GetOutputTime - device: median ",
          "    GetWrittenTime at the end of the writing: ", "  result: clean"})
        EXPECT_NE(std::string::npos, out.find(line)) << line << "\n" << out;
    EXPECT_EQ(0u, code) << out;
}

} // namespace
