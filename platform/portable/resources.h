#pragma once

#include <cstdint>

// Icon resources the program brings along. The resource generator emits a .cpp that defines
// tovaliskIconResources(); link that file's object directly into the program (an OBJECT
// library or a source of the executable), since a definition inside a static archive would
// never be pulled in over the layer's weak default, which reports no icons.

struct IconImage {
    int width;
    int height;
    // 0xAARRGGBB, top row first, width * height values.
    const uint32_t* pixels;
};

struct IconResource {
    unsigned id;
    int imageCount;
    const IconImage* images;
};

extern "C" const IconResource* tovaliskIconResources(int* count);
