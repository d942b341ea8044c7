// The square-law volume map: host volume 0..kMaxVolume to the engine's scale.
#include "host/out_module.h"

int g_VolumeTable[kMaxVolume + 1];

void BuildVolumeTable() {
    const float r = 1.0f / (float)kMaxVolume;
    for (int i = 0; i <= kMaxVolume; i++) {
        float x = (float)i * r;
        g_VolumeTable[i] = (int)(x * x * (float)kMaxVolume);
    }
}
