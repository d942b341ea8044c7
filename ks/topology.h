// The device's own volume control: the walk from a render pin through the wave filter's topology,
// across the bridge pin's physical connection into the topology filter, to the first volume node
// (and a mute node) on the way to the speakers; the range each channel of that node takes; and the
// node property requests that read and set its level and mute.
//
// Every answer is checked against the size the driver gave: counts that do not fit their block,
// connections that name a node outside the node list or loop, ranges whose minimum lies above
// their maximum or whose step is zero are refused, and the device then has no control.
// Threading: none of its own; each call makes its own requests.
#pragma once

#include "ks/ksplatform.h"

class CKsFilter;

// Channels of a node the engine drives; a node with more is driven on its first eight.
constexpr ULONG kMaxLevelChannels = 8;

// A channel's range in 1/65536 dB, as KSPROPERTY_AUDIO_VOLUMELEVEL's basic support gives it.
struct KsLevelRange {
    LONG lMinimum;
    LONG lMaximum;
    LONG lStep; // > 0
};

// The volume control found for a render pin.
struct KsLevelControl {
    char szFilter[MAX_PATH]; // device path of the filter that holds the nodes
    bool bOnTopology;        // the topology filter's (else the wave filter's own)
    ULONG nVolumeNode;
    ULONG nChannels; // 1..kMaxLevelChannels
    KsLevelRange ranges[kMaxLevelChannels];
    ULONG nMuteNode;     // KSFILTER_NODE when the path has none
    ULONG nMuteChannels; // 0 without a mute node
};

// Finds the control of the render pin nRenderPin on the (opened) wave filter. S_OK with *pControl
// filled; S_FALSE when the device has no volume node; a failure when an answer was refused or
// malformed or the topology filter could not be opened. pszWhy (cbWhy bytes) says what was found
// or why nothing was.
HRESULT FindLevelControl(CKsFilter& wave, ULONG nRenderPin, KsLevelControl* pControl, char* pszWhy,
                         size_t cbWhy);

// KSPROPERTY_AUDIO_VOLUMELEVEL (a LONG in 1/65536 dB) or KSPROPERTY_AUDIO_MUTE (a BOOL) of one
// channel of a node, read or written on the filter's handle.
HRESULT GetNodeValue(HANDLE hFilter, ULONG nProperty, ULONG nNode, ULONG nChannel, LONG* plValue);
HRESULT SetNodeValue(HANDLE hFilter, ULONG nProperty, ULONG nNode, ULONG nChannel, LONG lValue);

// A physical connection's link name as a path CreateFileA opens: the kernel's "\??\" prefix
// becomes "\\?\". False when it does not fit cbPath bytes or holds no name.
bool LinkNameToPath(const WCHAR* pwszLink, size_t cchLink, char* pszPath, size_t cbPath);
