#pragma once
// Pictures, fonts and image lists for the form layer.
// A Bitmap is a 32-bit top-down DIB section with premultiplied alpha, so one
// AlphaBlend draws PNG pictures with their transparency onto any background.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>

#include "platform/Handles.h"

namespace kv::forms {

class Bitmap {
public:
    Bitmap() = default;
    Bitmap(int width, int height); // transparent black
    Bitmap(const Bitmap& other);
    Bitmap& operator=(const Bitmap& other);
    Bitmap(Bitmap&&) noexcept = default;
    Bitmap& operator=(Bitmap&&) noexcept = default;

    // PNG pictures (our own reader; GDI+ for the kinds it leaves, and for other
    // formats); throw kv::Exception when the data is missing, damaged or not a picture.
    static Bitmap FromPngResource(const wchar_t* name, HMODULE module = nullptr);
    static Bitmap FromImageBytes(const void* data, std::size_t size);
    // Any picture GDI+ reads, decoded by GDI+ alone (what FromImageBytes
    // falls back on for pictures our PNG reader leaves alone).
    static Bitmap FromImageBytesThroughGdiplus(const void* data, std::size_t size);
    static Bitmap FromFile(const std::wstring& path);

    bool Empty() const noexcept { return width_ == 0 || height_ == 0; }
    int Width() const noexcept { return width_; }
    int Height() const noexcept { return height_; }
    HBITMAP Handle() const noexcept { return static_cast<HBITMAP>(bitmap_.Get()); }

    // A copy of a rectangle of this picture (clipped to the picture).
    Bitmap Crop(int x, int y, int width, int height) const;
    // Premultiplied 0xAARRGGBB of one pixel (0 outside the picture).
    std::uint32_t Pixel(int x, int y) const noexcept;
    bool SamePixels(const Bitmap& other) const noexcept;

    void Draw(HDC dc, int x, int y) const;
    void DrawStretched(HDC dc, const RECT& target) const;
    // Repeats the picture over the rectangle, row by row from its top-left corner.
    void DrawTiled(HDC dc, const RECT& target) const;
    // Fills a rectangle of any size from the picture: the borders (widths in
    // `border`: left, top, right, bottom) keep their size at the rectangle's
    // edges and corners, the middle is stretched. A frame or a gradient band
    // so grows without its corners or glyphs growing with it.
    void DrawSliced(HDC dc, const RECT& target, const RECT& border) const;

private:
    void Allocate(int width, int height);

    GdiObject bitmap_;
    std::uint32_t* bits_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// What a control's text looks like; an empty name takes the form's font name.
struct FontSpec {
    std::wstring name;
    int size = 8; // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
    COLORREF color = RGB(0, 0, 0);

    bool SameFace(const FontSpec& other) const noexcept
    {
        return name == other.name && size == other.size && bold == other.bold && italic == other.italic &&
               underline == other.underline;
    }
};

GdiObject CreateFontFrom(const FontSpec& spec);

// The font Windows uses for tooltips and status bars ("the screen's hint font").
std::wstring ScreenHintFontName();

class ImageList {
public:
    ImageList() = default;
    ImageList(const ImageList&) = delete;
    ImageList& operator=(const ImageList&) = delete;
    ~ImageList();

    // Cuts a horizontal strip of square-or-not frames, each `frameWidth` wide.
    void LoadStrip(const Bitmap& strip, int frameWidth);
    HIMAGELIST Handle() const noexcept { return list_; }
    int Count() const noexcept;
    void Draw(HDC dc, int index, int x, int y) const;
    int FrameWidth() const noexcept { return frameWidth_; }
    int FrameHeight() const noexcept { return frameHeight_; }

private:
    HIMAGELIST list_ = nullptr;
    int frameWidth_ = 0;
    int frameHeight_ = 0;
};

// A memory DC with one bitmap selected, restored and freed on scope exit.
class MemoryDC {
public:
    MemoryDC(HDC reference, HBITMAP bitmap);
    ~MemoryDC();
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    HDC Get() const noexcept { return dc_.Get(); }

private:
    CreatedDC dc_;
    HGDIOBJ previous_;
};

} // namespace kv::forms
