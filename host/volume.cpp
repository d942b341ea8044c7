// The square-law volume map: host volume 0..255 to the engine's scale.
#include "host/out_module.h"

int g_VolumeTable[256];

void BuildVolumeTable() {
    const float r = 1.0f / 255.0f;
    for (int i = 0; i < 256; i++) {
        float x = (float)i * r;
        g_VolumeTable[i] = (int)(x * x * 255.0f);
    }
}
