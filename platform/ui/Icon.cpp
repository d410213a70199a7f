#include "platform/ui/Icon.h"

#include <algorithm>
#include <vector>

namespace ui {

win::Icon IconFromPixels(int size, const uint32_t* argb) {
    BITMAPV5HEADER bi{};
    bi.bV5Size = sizeof bi;
    bi.bV5Width = size;
    bi.bV5Height = -size;
    bi.bV5Planes = 1;
    bi.bV5BitCount = 32;
    bi.bV5Compression = BI_RGB;
    void* bits = nullptr;
    HDC dc = GetDC(nullptr);
    win::GdiObject colour(CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bits, nullptr, 0));
    ReleaseDC(nullptr, dc);
    if (!colour) return win::Icon();
    const size_t count = static_cast<size_t>(size) * static_cast<size_t>(size);
    std::copy(argb, argb + count, static_cast<uint32_t*>(bits));
    const int stride = ((size + 15) / 16) * 2;  // monochrome rows are word-aligned
    std::vector<uint8_t> maskBits(static_cast<size_t>(stride) * static_cast<size_t>(size), 0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if ((argb[static_cast<size_t>(y * size + x)] >> 24) < 128)
                maskBits[static_cast<size_t>(y * stride + x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    win::GdiObject mask(CreateBitmap(size, size, 1, 1, maskBits.data()));
    // The icon holds copies of both bitmaps.
    ICONINFO ii{TRUE, 0, 0, static_cast<HBITMAP>(mask.get()), static_cast<HBITMAP>(colour.get())};
    return win::Icon(CreateIconIndirect(&ii));
}

}  // namespace ui
