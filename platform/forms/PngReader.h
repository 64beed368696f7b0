#pragma once
// Our own reading of PNG pictures: the window's pictures are PNG resources,
// and decoding them here takes a fraction of the time GDI+ needs to start and
// decode them (a third of the main window's start-up under Wine). Pictures
// this reader does not take (interlaced ones, unknown critical chunks, very
// large ones) are left to GDI+.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv::forms {

struct PngPicture {
    int width = 0;
    int height = 0;
    // Premultiplied 0xAARRGGBB, top-down rows of `width` pixels.
    std::vector<std::uint32_t> pixels;
};

enum class PngReadResult {
    Read,       // `picture` holds the pixels
    NotHandled, // not a PNG, or one this reader leaves to another decoder
    Damaged,    // a PNG whose data is cut short, inconsistent or corrupt
};

PngReadResult ReadPng(const void* data, std::size_t size, PngPicture& picture);

} // namespace kv::forms
