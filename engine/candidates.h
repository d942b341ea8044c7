// The formats an open offers a device that refused the stream's own: the device's data ranges as
// the platform defines them (valid bits; discrete rates as ranges of their own), and the lossless
// candidates built from them, least change first. Also what every pin attempt shares: the errors
// that mean busy, the log lines of an attempt and its cause, and the formats and ranges described
// for the log and the user.
#pragma once

#include <windows.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>
#include <cstddef>

class CKsAudRenFilter;

// Formats tried at most per open, the stream's own two attempts included: a driver that refuses
// everything cannot make an open slow. (A busy device is asked again in the stream's format, for
// kBusyRetryMs at most.)
constexpr int kMaxPinCreations = 12;
constexpr int kMaxRanges = 32;

// The PCM audio ranges of a filter's render pins (the first kMaxRanges).
struct KSRangeSet {
    KSDATARANGE_AUDIO ranges[kMaxRanges];
    int count;
};

void CollectRanges(CKsAudRenFilter& filter, KSRangeSet* set);
// True when some range takes the rate.
bool RateCovered(const KSRangeSet& set, DWORD rate);
// True when some range takes the format's channels, valid bits and rate.
bool RangesCover(const KSRangeSet& set, const WAVEFORMATEXTENSIBLE& wfx);

// Up to max candidates for the stream (the ring's format), least change first: the stream's own
// container in a spelling not yet tried, wider containers, then more channels (mono on two, then
// the counts the ranges name as their maximum); each with the stream's valid bits or, where the
// ranges insist, the fewest of theirs; extensible first, plain where plain can say it. Formats in
// tried (count of them) and formats no range covers are left out.
int BuildCandidates(const WAVEFORMATEXTENSIBLE& stream, const KSRangeSet& set,
                    const WAVEFORMATEXTENSIBLE* tried, int triedCount, WAVEFORMATEXTENSIBLE* out,
                    int max);

// Pin creation failures (busy.cpp): the device is in use; and the refusals a format may cure,
// which is every one but busy and gone.
bool PinBusyError(HRESULT hr);
bool PinRefusedOnlyFormat(HRESULT hr);

// The log's lines of a pin attempt: the heading and the format's eight fields.
void LogAttempt(const char* heading, const WAVEFORMATEXTENSIBLE& w);
// Why the filter refused a render pin: the platform's error and the filter's own reason.
void LogPinCause(const CKsAudRenFilter& filter);

// "16-bit 2 ch 44100 Hz", with the container and spelling where they say more.
void DescribeFormat(const WAVEFORMATEXTENSIBLE& wfx, char* text, size_t size);
// The ranges for the log: each one's channels, valid bits and rates.
void DescribeRanges(const KSRangeSet& set, char* text, size_t size);
// The rates the ranges take, for the user: "44100, 48000" or "8000-192000".
void DescribeRates(const KSRangeSet& set, char* text, size_t size);
