// Storage for every KS GUID the plug-in names, from the values in the platform's documentation;
// ks.h and ksmedia.h only declare them. The STATIC_ forms of those headers hold the documented
// values for each GUID named here (tests/platform_constants_test.cpp holds them to the
// documentation). The toolchain's GUID library (MinGW-w64's libksguid) is not linked: it defines
// KSPROPSETID_Topology as {45FFAAA1-6E1B-11D0-BCF2-444553540000}, which is
// KSPROPSETID_TopologyNode, so every node-list and connection request went out under a set no
// driver answers.
#include "ks/ksplatform.h"

#define QUELLOR_KS_GUID(name) EXTERN_C const GUID name = {STATIC_##name}

// Property sets.
QUELLOR_KS_GUID(KSPROPSETID_Pin);
QUELLOR_KS_GUID(KSPROPSETID_Topology); // {720D4AC0-7533-11D0-A5D6-28DB04C10000}
QUELLOR_KS_GUID(KSPROPSETID_Connection);
QUELLOR_KS_GUID(KSPROPSETID_Audio);
QUELLOR_KS_GUID(KSPROPSETID_RtAudio);

// Device-interface categories.
QUELLOR_KS_GUID(KSCATEGORY_AUDIO);
QUELLOR_KS_GUID(KSCATEGORY_RENDER);
QUELLOR_KS_GUID(KSCATEGORY_REALTIME);

// Data formats, pin interfaces and mediums, node types.
QUELLOR_KS_GUID(KSDATAFORMAT_TYPE_AUDIO);
QUELLOR_KS_GUID(KSDATAFORMAT_SUBTYPE_PCM);
QUELLOR_KS_GUID(KSDATAFORMAT_SUBTYPE_WAVEFORMATEX);
QUELLOR_KS_GUID(KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);
QUELLOR_KS_GUID(KSINTERFACESETID_Standard);
QUELLOR_KS_GUID(KSMEDIUMSETID_Standard);
QUELLOR_KS_GUID(KSNODETYPE_VOLUME);
QUELLOR_KS_GUID(KSNODETYPE_MUTE);
