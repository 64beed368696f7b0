#include "platform/forms/PngReader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace kv::forms {
namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Larger pictures are left to GDI+, as before this reader: no window picture
// comes near, and a few bytes of compressed data must not claim a gigabyte.
constexpr std::uint64_t kMaxPixels = 4u * 1024 * 1024;
constexpr std::uint32_t kMaxSide = 16384;

std::uint32_t BigEndian32(const std::uint8_t* bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

std::uint32_t ChunkType(const char (&name)[5])
{
    return BigEndian32(reinterpret_cast<const std::uint8_t*>(name));
}

struct Header {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 0;
    int colourType = 0;
    bool interlaced = false;

    int Channels() const
    {
        switch (colourType) {
        case 0: return 1; // grey
        case 2: return 3; // RGB
        case 3: return 1; // palette index
        case 4: return 2; // grey and alpha
        case 6: return 4; // RGBA
        default: return 0;
        }
    }
    int BitsPerPixel() const { return Channels() * bitDepth; }
    // The bytes one pixel (at least one byte) spans, as the filters count them.
    std::size_t FilterStep() const { return static_cast<std::size_t>(std::max(1, BitsPerPixel() / 8)); }
    std::size_t RowBytes() const { return (static_cast<std::size_t>(width) * BitsPerPixel() + 7) / 8; }
};

bool ValidDepth(int colourType, int bitDepth)
{
    switch (colourType) {
    case 0: return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case 3: return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case 2:
    case 4:
    case 6: return bitDepth == 8 || bitDepth == 16;
    default: return false;
    }
}

// The image data's inflater; the rows are inflated straight into `out`.
class Inflater {
public:
    explicit Inflater(std::vector<std::uint8_t>& out) : out_(out)
    {
        ready_ = inflateInit(&stream_) == Z_OK;
        stream_.next_out = out_.data();
        stream_.avail_out = static_cast<uInt>(out_.size());
    }
    ~Inflater()
    {
        if (ready_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // False when the data is corrupt. Data after the last row is ignored.
    bool Feed(const std::uint8_t* data, std::uint32_t size)
    {
        if (!ready_) return false;
        if (ended_ || stream_.avail_out == 0) return true;
        stream_.next_in = const_cast<Bytef*>(data);
        stream_.avail_in = size;
        while (stream_.avail_in > 0 && stream_.avail_out > 0) {
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                ended_ = true;
                break;
            }
            if (status != Z_OK) return false;
        }
        return true;
    }
    bool Complete() const { return ready_ && stream_.avail_out == 0; }

private:
    std::vector<std::uint8_t>& out_;
    z_stream stream_{};
    bool ready_ = false;
    bool ended_ = false;
};

std::uint8_t Paeth(int left, int up, int upLeft)
{
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left), toUp = std::abs(estimate - up), toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) return static_cast<std::uint8_t>(left);
    if (toUp <= toUpLeft) return static_cast<std::uint8_t>(up);
    return static_cast<std::uint8_t>(upLeft);
}

// Undoes each row's filter in place; the filter byte leads every row. One
// loop per filter, the first pixel's bytes apart (they have nothing to the
// left): the window's pictures are decoded at every start.
bool Unfilter(std::vector<std::uint8_t>& raw, const Header& header)
{
    const std::size_t rowBytes = header.RowBytes(), step = std::min(header.FilterStep(), rowBytes),
                      stride = rowBytes + 1;
    const std::vector<std::uint8_t> zeros(rowBytes, 0); // the row above the first
    const std::uint8_t* up = zeros.data();
    for (std::uint32_t y = 0; y < header.height; ++y) {
        std::uint8_t* row = raw.data() + y * stride + 1;
        switch (row[-1]) {
        case 0: break;
        case 1:
            for (std::size_t i = step; i < rowBytes; ++i) row[i] = static_cast<std::uint8_t>(row[i] + row[i - step]);
            break;
        case 2:
            for (std::size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<std::uint8_t>(row[i] + up[i]);
            break;
        case 3:
            for (std::size_t i = 0; i < step; ++i) row[i] = static_cast<std::uint8_t>(row[i] + (up[i] >> 1));
            for (std::size_t i = step; i < rowBytes; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + ((row[i - step] + up[i]) >> 1));
            break;
        case 4:
            // With nothing to the left the predictor is the byte above.
            for (std::size_t i = 0; i < step; ++i) row[i] = static_cast<std::uint8_t>(row[i] + up[i]);
            for (std::size_t i = step; i < rowBytes; ++i)
                row[i] = static_cast<std::uint8_t>(row[i] + Paeth(row[i - step], up[i], up[i - step]));
            break;
        default: return false;
        }
        up = row;
    }
    return true;
}

std::uint32_t Premultiplied(std::uint32_t red, std::uint32_t green, std::uint32_t blue, std::uint32_t alpha)
{
    const auto scale = [alpha](std::uint32_t value) { return (value * alpha + 127) / 255; };
    return (alpha << 24) | (scale(red) << 16) | (scale(green) << 8) | scale(blue);
}

// What the file says beside the pixels: palette and transparency.
struct Colours {
    std::array<std::uint32_t, 256> palette{}; // premultiplied; opaque black beyond the palette
    int paletteSize = 0;
    bool hasKey = false;
    std::array<std::uint16_t, 3> key{}; // the transparent grey (key[0]) or RGB, at the file's depth
};

// One sample of `row` (bit depths 1-8 packed, 16 big-endian).
std::uint32_t Sample(const std::uint8_t* row, std::size_t index, int bitDepth)
{
    switch (bitDepth) {
    case 16: return (std::uint32_t{row[index * 2]} << 8) | row[index * 2 + 1];
    case 8: return row[index];
    default: {
        const std::size_t bit = index * static_cast<std::size_t>(bitDepth);
        const int shift = 8 - bitDepth - static_cast<int>(bit % 8);
        return (row[bit / 8] >> shift) & ((1u << bitDepth) - 1);
    }
    }
}

// A sample scaled to eight bits.
std::uint32_t To8(std::uint32_t sample, int bitDepth)
{
    switch (bitDepth) {
    case 16: return sample >> 8;
    case 8: return sample;
    default: return sample * 255 / ((1u << bitDepth) - 1);
    }
}

// Eight-bit RGBA and RGB, what nearly every picture is, without the general
// path's per-sample questions.
bool ConvertCommonRows(const std::vector<std::uint8_t>& raw, const Header& header, const Colours& colours,
                       PngPicture& picture)
{
    const bool rgba = header.colourType == 6, rgb = header.colourType == 2 && !colours.hasKey;
    if (header.bitDepth != 8 || (!rgba && !rgb)) return false;
    const std::size_t stride = header.RowBytes() + 1, channels = rgba ? 4 : 3;
    std::uint32_t* out = picture.pixels.data();
    for (std::uint32_t y = 0; y < header.height; ++y) {
        const std::uint8_t* pixel = raw.data() + y * stride + 1;
        for (std::uint32_t x = 0; x < header.width; ++x, pixel += channels) {
            const std::uint32_t alpha = rgba ? pixel[3] : 255;
            *out++ = alpha == 255 ? 0xFF000000u | (std::uint32_t{pixel[0]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[2]
                                  : Premultiplied(pixel[0], pixel[1], pixel[2], alpha);
        }
    }
    return true;
}

void ConvertRows(const std::vector<std::uint8_t>& raw, const Header& header, const Colours& colours, PngPicture& picture)
{
    if (ConvertCommonRows(raw, header, colours, picture)) return;
    const std::size_t stride = header.RowBytes() + 1;
    const int depth = header.bitDepth, channels = header.Channels();
    std::uint32_t* out = picture.pixels.data();
    for (std::uint32_t y = 0; y < header.height; ++y) {
        const std::uint8_t* row = raw.data() + y * stride + 1;
        for (std::uint32_t x = 0; x < header.width; ++x) {
            const std::size_t first = static_cast<std::size_t>(x) * channels;
            const auto at = [&](int channel) { return Sample(row, first + channel, depth); };
            switch (header.colourType) {
            case 0: {
                const std::uint32_t grey = at(0), level = To8(grey, depth);
                *out++ = colours.hasKey && grey == colours.key[0] ? 0 : Premultiplied(level, level, level, 255);
                break;
            }
            case 2: {
                const std::uint32_t red = at(0), green = at(1), blue = at(2);
                const bool keyed = colours.hasKey && red == colours.key[0] && green == colours.key[1] && blue == colours.key[2];
                *out++ = keyed ? 0 : Premultiplied(To8(red, depth), To8(green, depth), To8(blue, depth), 255);
                break;
            }
            case 3: *out++ = colours.palette[at(0)]; break;
            case 4: {
                const std::uint32_t level = To8(at(0), depth);
                *out++ = Premultiplied(level, level, level, To8(at(1), depth));
                break;
            }
            default:
                *out++ = Premultiplied(To8(at(0), depth), To8(at(1), depth), To8(at(2), depth), To8(at(3), depth));
                break;
            }
        }
    }
}

bool ReadHeader(const std::uint8_t* data, std::uint32_t length, Header& header)
{
    if (length != 13) return false;
    header.width = BigEndian32(data);
    header.height = BigEndian32(data + 4);
    header.bitDepth = data[8];
    header.colourType = data[9];
    header.interlaced = data[12] == 1;
    return header.width > 0 && header.height > 0 && header.width <= 0x7FFFFFFF && header.height <= 0x7FFFFFFF &&
           ValidDepth(header.colourType, header.bitDepth) && data[10] == 0 && data[11] == 0 && data[12] <= 1;
}

} // namespace

PngReadResult ReadPng(const void* data, std::size_t size, PngPicture& picture)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (!bytes || size < sizeof kSignature || std::memcmp(bytes, kSignature, sizeof kSignature) != 0)
        return PngReadResult::NotHandled;
    Header header;
    Colours colours;
    // The palette's entries count as opaque until a transparency chunk says otherwise.
    std::array<std::uint8_t, 256 * 3> paletteBytes{};
    std::array<std::uint8_t, 256> paletteAlpha;
    paletteAlpha.fill(255);
    std::vector<std::uint8_t> raw;
    std::optional<Inflater> inflater;
    bool seenHeader = false, seenData = false, dataEnded = false;
    std::size_t at = sizeof kSignature;
    for (;;) {
        if (size - at < 12) return PngReadResult::Damaged; // no IEND
        const std::uint32_t length = BigEndian32(bytes + at);
        const std::uint32_t type = BigEndian32(bytes + at + 4);
        if (length > size - at - 12) return PngReadResult::Damaged;
        const std::uint8_t* body = bytes + at + 8;
        const std::uint32_t storedCrc = BigEndian32(body + length);
        if (crc32(crc32(0L, bytes + at + 4, 4), body, length) != storedCrc) return PngReadResult::Damaged;
        at += 12 + static_cast<std::size_t>(length);

        if (!seenHeader) {
            if (type != ChunkType("IHDR") || !ReadHeader(body, length, header)) return PngReadResult::Damaged;
            seenHeader = true;
            if (header.interlaced || header.width > kMaxSide || header.height > kMaxSide ||
                std::uint64_t{header.width} * header.height > kMaxPixels)
                return PngReadResult::NotHandled;
            raw.resize(header.height * (header.RowBytes() + 1));
            inflater.emplace(raw);
            continue;
        }
        if (type == ChunkType("IDAT")) {
            if (dataEnded) return PngReadResult::Damaged; // image data must be one run of chunks
            seenData = true;
            if (!inflater->Feed(body, length)) return PngReadResult::Damaged;
            continue;
        }
        if (seenData) dataEnded = true;
        if (type == ChunkType("IEND")) break;
        if (type == ChunkType("PLTE")) {
            if (seenData || length % 3 != 0 || length == 0 || length > 256 * 3) return PngReadResult::Damaged;
            std::memcpy(paletteBytes.data(), body, length);
            colours.paletteSize = static_cast<int>(length / 3);
        } else if (type == ChunkType("tRNS")) {
            if (header.colourType == 3) {
                if (length > 256) return PngReadResult::Damaged;
                std::memcpy(paletteAlpha.data(), body, length);
            } else if (header.colourType == 0 && length == 2) {
                colours.hasKey = true;
                colours.key[0] = static_cast<std::uint16_t>((body[0] << 8) | body[1]);
            } else if (header.colourType == 2 && length == 6) {
                colours.hasKey = true;
                for (int i = 0; i < 3; ++i) colours.key[i] = static_cast<std::uint16_t>((body[2 * i] << 8) | body[2 * i + 1]);
            }
            // Anything else (transparency for a picture with alpha) is ignored, as decoders do.
        } else if ((type >> 24 & 0x20) == 0) {
            return PngReadResult::NotHandled; // a critical chunk this reader does not know
        }
    }
    if (!seenData || !inflater->Complete()) return PngReadResult::Damaged;
    if (header.colourType == 3 && colours.paletteSize == 0) return PngReadResult::Damaged;
    for (int i = 0; i < 256; ++i)
        colours.palette[i] = i < colours.paletteSize
                                 ? Premultiplied(paletteBytes[i * 3], paletteBytes[i * 3 + 1], paletteBytes[i * 3 + 2], paletteAlpha[i])
                                 : 0xFF000000;
    if (!Unfilter(raw, header)) return PngReadResult::Damaged;
    picture.width = static_cast<int>(header.width);
    picture.height = static_cast<int>(header.height);
    picture.pixels.resize(std::size_t{header.width} * header.height);
    ConvertRows(raw, header, colours, picture);
    return PngReadResult::Read;
}

} // namespace kv::forms
