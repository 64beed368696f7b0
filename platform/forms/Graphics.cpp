#include "platform/forms/Graphics.h"

#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/forms/PngReader.h"

namespace kv::forms {
namespace {

// GDI+ must not be started from DllMain or a static constructor; the first
// picture starts it and it stays up until the process ends.
void EnsureGdiplus()
{
    static std::once_flag started;
    std::call_once(started, [] {
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
            throw Exception(L"GDI+ could not be started");
    });
}

} // namespace

MemoryDC::MemoryDC(HDC reference, HBITMAP bitmap)
    : dc_(::CreateCompatibleDC(reference)), previous_(::SelectObject(dc_.Get(), bitmap))
{
}

MemoryDC::~MemoryDC()
{
    ::SelectObject(dc_.Get(), previous_);
}

Bitmap::Bitmap(int width, int height) { Allocate(width, height); }

Bitmap::Bitmap(const Bitmap& other)
{
    if (other.Empty()) return;
    Allocate(other.width_, other.height_);
    std::memcpy(bits_, other.bits_, sizeof(std::uint32_t) * width_ * height_);
}

Bitmap& Bitmap::operator=(const Bitmap& other)
{
    if (this != &other) {
        Bitmap copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void Bitmap::Allocate(int width, int height)
{
    bitmap_.Reset();
    bits_ = nullptr;
    width_ = height_ = 0;
    if (width <= 0 || height <= 0) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) throw Exception(L"Cannot create a bitmap");
    bitmap_.Reset(bitmap);
    bits_ = static_cast<std::uint32_t*>(bits);
    width_ = width;
    height_ = height;
    std::memset(bits_, 0, sizeof(std::uint32_t) * width_ * height_);
}

Bitmap Bitmap::FromImageBytes(const void* data, std::size_t size)
{
    PngPicture png;
    switch (ReadPng(data, size, png)) {
    case PngReadResult::Read: {
        Bitmap result(png.width, png.height);
        std::memcpy(result.bits_, png.pixels.data(), png.pixels.size() * sizeof(std::uint32_t));
        return result;
    }
    case PngReadResult::Damaged: throw Exception(L"The picture data is damaged");
    case PngReadResult::NotHandled: break; // other kinds of picture go to GDI+
    }
    return FromImageBytesThroughGdiplus(data, size);
}

Bitmap Bitmap::FromImageBytesThroughGdiplus(const void* data, std::size_t size)
{
    EnsureGdiplus();
    const ComRef<IStream> memory(::SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(size)));
    if (!memory) throw Exception(L"Cannot read the picture data");
    Gdiplus::GpBitmap* image = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromStream(memory.Get(), &image) != Gdiplus::Ok || !image)
        throw Exception(L"The picture data is not a picture");
    struct ImageOwner {
        Gdiplus::GpBitmap* image;
        ~ImageOwner() { Gdiplus::DllExports::GdipDisposeImage(image); }
    } owner{image};
    UINT width = 0, height = 0;
    Gdiplus::DllExports::GdipGetImageWidth(image, &width);
    Gdiplus::DllExports::GdipGetImageHeight(image, &height);
    if (width == 0 || height == 0 || width > 16384 || height > 16384)
        throw Exception(L"The picture has an unusable size");
    Bitmap result(static_cast<int>(width), static_cast<int>(height));
    Gdiplus::Rect rect(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    Gdiplus::BitmapData locked{};
    locked.Width = width;
    locked.Height = height;
    locked.Stride = static_cast<INT>(width * 4);
    locked.PixelFormat = PixelFormat32bppPARGB;
    locked.Scan0 = result.bits_;
    // Decoding straight into our own pixels: premultiplied, top-down, our stride.
    if (Gdiplus::DllExports::GdipBitmapLockBits(image, &rect, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                                                PixelFormat32bppPARGB, &locked) != Gdiplus::Ok)
        throw Exception(L"The picture cannot be decoded");
    Gdiplus::DllExports::GdipBitmapUnlockBits(image, &locked);
    return result;
}

Bitmap Bitmap::FromPngResource(const wchar_t* name, HMODULE module)
{
    if (!module) module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, name, RT_RCDATA);
    if (!found) throw Exception(L"Missing picture resource " + std::wstring(IS_INTRESOURCE(name) ? L"#" : name));
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data) throw Exception(L"Cannot load a picture resource");
    return FromImageBytes(data, ::SizeofResource(module, found));
}

Bitmap Bitmap::FromFile(const std::wstring& path)
{
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) throw Exception(L"Cannot open the picture " + path);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > 64 * 1024 * 1024)
        throw Exception(L"The picture is too large: " + path);
    std::vector<char> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                           read != bytes.size()))
        throw Exception(L"Cannot read the picture " + path);
    return FromImageBytes(bytes.data(), bytes.size());
}

Bitmap Bitmap::Crop(int x, int y, int width, int height) const
{
    const int left = std::clamp(x, 0, width_), top = std::clamp(y, 0, height_);
    const int right = std::clamp(x + width, left, width_), bottom = std::clamp(y + height, top, height_);
    Bitmap result(right - left, bottom - top);
    for (int row = top; row < bottom; ++row)
        std::memcpy(result.bits_ + (row - top) * result.width_, bits_ + row * width_ + left,
                    sizeof(std::uint32_t) * (right - left));
    return result;
}

std::uint32_t Bitmap::Pixel(int x, int y) const noexcept
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    return bits_[y * width_ + x];
}

bool Bitmap::SamePixels(const Bitmap& other) const noexcept
{
    if (width_ != other.width_ || height_ != other.height_) return false;
    return Empty() || std::memcmp(bits_, other.bits_, sizeof(std::uint32_t) * width_ * height_) == 0;
}

void Bitmap::Draw(HDC dc, int x, int y) const
{
    DrawStretched(dc, RECT{x, y, x + width_, y + height_});
}

void Bitmap::DrawStretched(HDC dc, const RECT& target) const
{
    if (Empty()) return;
    MemoryDC source(dc, Handle());
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::GdiAlphaBlend(dc, target.left, target.top, target.right - target.left, target.bottom - target.top, source.Get(),
                    0, 0, width_, height_, blend);
}

void Bitmap::DrawSliced(HDC dc, const RECT& target, const RECT& border) const
{
    if (Empty()) return;
    const int targetWidth = target.right - target.left, targetHeight = target.bottom - target.top;
    // Column and row edges in the picture and in the target.
    const int sourceX[4] = {0, border.left, width_ - border.right, width_};
    const int sourceY[4] = {0, border.top, height_ - border.bottom, height_};
    const int targetX[4] = {target.left, target.left + border.left, target.right - border.right, target.right};
    const int targetY[4] = {target.top, target.top + border.top, target.bottom - border.bottom, target.bottom};
    if (targetWidth < border.left + border.right || targetHeight < border.top + border.bottom ||
        sourceX[1] > sourceX[2] || sourceY[1] > sourceY[2]) {
        DrawStretched(dc, target);
        return;
    }
    MemoryDC source(dc, Handle());
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column) {
            const int sw = sourceX[column + 1] - sourceX[column], sh = sourceY[row + 1] - sourceY[row];
            const int tw = targetX[column + 1] - targetX[column], th = targetY[row + 1] - targetY[row];
            if (sw <= 0 || sh <= 0 || tw <= 0 || th <= 0) continue;
            ::GdiAlphaBlend(dc, targetX[column], targetY[row], tw, th, source.Get(), sourceX[column], sourceY[row], sw,
                            sh, blend);
        }
}

void Bitmap::DrawTiled(HDC dc, const RECT& target) const
{
    if (Empty()) return;
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, target.left, target.top, target.right, target.bottom);
    for (int y = target.top; y < target.bottom; y += height_)
        for (int x = target.left; x < target.right; x += width_) Draw(dc, x, y);
    ::RestoreDC(dc, saved);
}

GdiObject CreateFontFrom(const FontSpec& spec)
{
    const int height = -::MulDiv(spec.size, ::GetDeviceCaps(WindowDC(nullptr).Get(), LOGPIXELSY), 72);
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfWeight = spec.bold ? FW_BOLD : FW_NORMAL;
    font.lfItalic = spec.italic;
    font.lfUnderline = spec.underline;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    const std::wstring name = spec.name.empty() ? ScreenHintFontName() : spec.name;
    lstrcpynW(font.lfFaceName, name.c_str(), LF_FACESIZE);
    return GdiObject(::CreateFontIndirectW(&font));
}

std::wstring ScreenHintFontName()
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) && metrics.lfStatusFont.lfFaceName[0])
        return metrics.lfStatusFont.lfFaceName;
    return L"Tahoma";
}

ImageList::~ImageList()
{
    if (list_) ::ImageList_Destroy(list_);
}

void ImageList::LoadStrip(const Bitmap& strip, int frameWidth)
{
    if (strip.Empty() || frameWidth <= 0) throw Exception(L"An image list needs a picture strip");
    const int count = strip.Width() / frameWidth;
    HIMAGELIST list = ::ImageList_Create(frameWidth, strip.Height(), ILC_COLOR32, count, 4);
    if (!list) throw Exception(L"Cannot create an image list");
    // One frame at a time keeps the list's indices exactly the strip's frame numbers.
    for (int i = 0; i < count; ++i) {
        Bitmap frame = strip.Crop(i * frameWidth, 0, frameWidth, strip.Height());
        if (::ImageList_Add(list, frame.Handle(), nullptr) != i) {
            ::ImageList_Destroy(list);
            throw Exception(L"Cannot fill an image list");
        }
    }
    if (list_) ::ImageList_Destroy(list_);
    list_ = list;
    frameWidth_ = frameWidth;
    frameHeight_ = strip.Height();
}

int ImageList::Count() const noexcept { return list_ ? ::ImageList_GetImageCount(list_) : 0; }

void ImageList::Draw(HDC dc, int index, int x, int y) const
{
    if (list_) ::ImageList_Draw(list_, index, dc, x, y, ILD_TRANSPARENT);
}

} // namespace kv::forms
