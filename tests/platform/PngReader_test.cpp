// The PNG reader against GDI+ as the oracle: every picture the program
// carries, and pictures written here in each colour type, bit depth and row
// filter the format has; then damaged pictures, which must be refused
// without a crash, and the kinds left to GDI+.
#include <gtest/gtest.h>

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/TextCodec.h"
#include "platform/forms/Graphics.h"
#include "platform/forms/PngReader.h"

using kv::forms::PngPicture;
using kv::forms::PngReadResult;
using kv::forms::ReadPng;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ------------------------------------------------------------------ the oracle

// GDI+'s pixels of `png`, through the form layer's GDI+ decoder (the one
// FromImageBytes falls back on); an empty picture when GDI+ refuses it.
PngPicture DecodeThroughGdiplus(const Bytes& png)
{
    PngPicture picture;
    try {
        const kv::forms::Bitmap decoded = kv::forms::Bitmap::FromImageBytesThroughGdiplus(png.data(), png.size());
        picture.width = decoded.Width();
        picture.height = decoded.Height();
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) picture.pixels.push_back(decoded.Pixel(x, y));
    } catch (const kv::Exception&) {
        return PngPicture{};
    }
    return picture;
}

// The first pixel where two pictures differ by more than one step in a
// channel (premultiplying may round either way), or "" when none does.
std::string FirstDifference(const PngPicture& ours, const PngPicture& oracle)
{
    if (ours.width != oracle.width || ours.height != oracle.height)
        return "size " + std::to_string(ours.width) + "x" + std::to_string(ours.height) + " against " +
               std::to_string(oracle.width) + "x" + std::to_string(oracle.height);
    for (std::size_t i = 0; i < ours.pixels.size(); ++i)
        for (int shift = 0; shift < 32; shift += 8) {
            const int a = static_cast<int>(ours.pixels[i] >> shift & 0xFF), b = static_cast<int>(oracle.pixels[i] >> shift & 0xFF);
            if (std::abs(a - b) > 1) {
                char text[96];
                std::snprintf(text, sizeof text, "pixel %u,%u: %08X against %08X", static_cast<unsigned>(i % ours.width),
                              static_cast<unsigned>(i / ours.width), ours.pixels[i], oracle.pixels[i]);
                return text;
            }
        }
    return "";
}

// ------------------------------------------------------------------ a writer

void Put32(Bytes& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutChunk(Bytes& out, const char* type, const Bytes& body)
{
    Put32(out, static_cast<std::uint32_t>(body.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, static_cast<std::uint32_t>(crc32(0L, out.data() + typeAt, static_cast<uInt>(4 + body.size()))));
}

struct PictureKind {
    const char* name;
    int colourType;
    int bitDepth;
    std::uint32_t width;
    std::uint32_t height;
    bool withTransparency; // tRNS: palette alphas, or a transparent grey or RGB key
};

int ChannelsOf(int colourType) { return colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1; }

// Rows of samples that vary in every channel; each row filtered with the
// filter (row index mod 5), so all five filters occur.
Bytes FilteredRows(const PictureKind& kind)
{
    const int bitsPerPixel = ChannelsOf(kind.colourType) * kind.bitDepth;
    const std::size_t rowBytes = (std::size_t{kind.width} * bitsPerPixel + 7) / 8;
    const std::size_t step = std::max(1, bitsPerPixel / 8);
    std::vector<Bytes> rows(kind.height, Bytes(rowBytes));
    std::uint32_t seed = 12345;
    for (auto& row : rows)
        for (auto& byte : row) {
            seed = seed * 1103515245 + 12345;
            byte = static_cast<std::uint8_t>(seed >> 16);
        }
    if (kind.colourType == 3 && kind.bitDepth >= 4) // indices within the 7-entry palette
        for (auto& row : rows)
            for (auto& byte : row)
                byte = kind.bitDepth == 8 ? byte % 7 : static_cast<std::uint8_t>((byte >> 4) % 7 << 4 | (byte & 15) % 7);
    Bytes out;
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const int filter = static_cast<int>(y % 5);
        out.push_back(static_cast<std::uint8_t>(filter));
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int left = i >= step ? rows[y][i - step] : 0;
            const int up = y > 0 ? rows[y - 1][i] : 0;
            const int upLeft = y > 0 && i >= step ? rows[y - 1][i - step] : 0;
            int predicted = 0;
            switch (filter) {
            case 1: predicted = left; break;
            case 2: predicted = up; break;
            case 3: predicted = (left + up) / 2; break;
            case 4: {
                const int p = left + up - upLeft, pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - upLeft);
                predicted = pa <= pb && pa <= pc ? left : pb <= pc ? up : upLeft;
                break;
            }
            default: break;
            }
            out.push_back(static_cast<std::uint8_t>(rows[y][i] - predicted));
        }
    }
    return out;
}

Bytes Compressed(const Bytes& data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    compress(out.data(), &size, data.data(), static_cast<uLong>(data.size()));
    out.resize(size);
    return out;
}

Bytes Header(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType, int interlace = 0)
{
    Bytes body;
    Put32(body, width);
    Put32(body, height);
    body.insert(body.end(), {static_cast<std::uint8_t>(bitDepth), static_cast<std::uint8_t>(colourType), 0, 0,
                             static_cast<std::uint8_t>(interlace)});
    return body;
}

// A whole PNG: header, palette and transparency as the kind asks, the image
// data split over three chunks, the end.
Bytes WritePng(const PictureKind& kind)
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(png, "IHDR", Header(kind.width, kind.height, kind.bitDepth, kind.colourType));
    if (kind.colourType == 3) {
        Bytes palette;
        for (int i = 0; i < 7; ++i) palette.insert(palette.end(), {std::uint8_t(i * 40), std::uint8_t(255 - i * 30), std::uint8_t(i * 7)});
        PutChunk(png, "PLTE", palette);
        if (kind.withTransparency) PutChunk(png, "tRNS", {0, 128, 255, 7});
    } else if (kind.withTransparency && kind.colourType == 0) {
        PutChunk(png, "tRNS", {0, kind.bitDepth == 16 ? std::uint8_t(0x30) : std::uint8_t(1)});
    } else if (kind.withTransparency && kind.colourType == 2) {
        PutChunk(png, "tRNS", {0, 0x10, 0, 0x20, 0, 0x30});
    }
    const Bytes data = Compressed(FilteredRows(kind));
    const std::size_t third = data.size() / 3;
    PutChunk(png, "IDAT", Bytes(data.begin(), data.begin() + third));
    PutChunk(png, "IDAT", Bytes(data.begin() + third, data.begin() + 2 * third));
    PutChunk(png, "IDAT", Bytes(data.begin() + 2 * third, data.end()));
    PutChunk(png, "IEND", {});
    return png;
}

// ------------------------------------------------------------------ the tests

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names)
{
    if (!IS_INTRESOURCE(name)) reinterpret_cast<std::vector<std::wstring>*>(names)->emplace_back(name);
    return TRUE;
}

TEST(PngReader, EveryPictureTheProgramCarriesReadsAsGdiplusReadsIt)
{
    std::vector<std::wstring> names;
    ::EnumResourceNamesW(nullptr, RT_RCDATA, CollectName, reinterpret_cast<LONG_PTR>(&names));
    int pictures = 0;
    for (const std::wstring& name : names) {
        HRSRC resource = ::FindResourceW(nullptr, name.c_str(), RT_RCDATA);
        const auto* data = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(nullptr, resource)));
        const Bytes bytes(data, data + ::SizeofResource(nullptr, resource));
        if (bytes.size() < 8 || bytes[1] != 'P' || bytes[2] != 'N' || bytes[3] != 'G') continue;
        ++pictures;
        PngPicture ours;
        ASSERT_EQ(ReadPng(bytes.data(), bytes.size(), ours), PngReadResult::Read) << kv::WideToUtf8(name);
        EXPECT_EQ(FirstDifference(ours, DecodeThroughGdiplus(bytes)), "") << kv::WideToUtf8(name);
    }
    EXPECT_GT(pictures, 20) << "the program's pictures were not found";
}

class PngKinds : public ::testing::TestWithParam<PictureKind> {};

TEST_P(PngKinds, ReadAsGdiplusReadsThem)
{
    const Bytes png = WritePng(GetParam());
    const PngPicture oracle = DecodeThroughGdiplus(png);
    ASSERT_GT(oracle.width, 0) << "GDI+ refused the written picture";
    PngPicture ours;
    ASSERT_EQ(ReadPng(png.data(), png.size(), ours), PngReadResult::Read);
    EXPECT_EQ(FirstDifference(ours, oracle), "");
}

INSTANTIATE_TEST_SUITE_P(
    EachColourTypeAndDepth, PngKinds,
    ::testing::Values(PictureKind{"Grey1", 0, 1, 37, 9, false}, PictureKind{"Grey2", 0, 2, 19, 7, false},
                      PictureKind{"Grey4", 0, 4, 13, 6, false}, PictureKind{"Grey8WithKey", 0, 8, 11, 10, true},
                      PictureKind{"Grey16WithKey", 0, 16, 9, 5, true}, PictureKind{"Rgb8", 2, 8, 17, 12, false},
                      PictureKind{"Rgb8WithKey", 2, 8, 17, 12, true}, PictureKind{"Rgb16", 2, 16, 7, 6, false},
                      PictureKind{"Palette1", 3, 1, 21, 5, false}, PictureKind{"Palette4", 3, 4, 9, 5, true},
                      PictureKind{"Palette8WithAlphas", 3, 8, 15, 11, true}, PictureKind{"GreyAlpha8", 4, 8, 10, 10, false},
                      PictureKind{"GreyAlpha16", 4, 16, 6, 6, false}, PictureKind{"Rgba8", 6, 8, 33, 20, false},
                      PictureKind{"Rgba16", 6, 16, 8, 7, false}, PictureKind{"OnePixel", 6, 8, 1, 1, false}),
    [](const ::testing::TestParamInfo<PictureKind>& info) { return std::string(info.param.name); });

// A good picture to damage.
Bytes GoodPng() { return WritePng(PictureKind{"", 6, 8, 16, 16, false}); }

// Where the first chunk after the header begins.
constexpr std::size_t kAfterHeader = 8 + 12 + 13;

struct Damage {
    const char* name;
    std::function<void(Bytes&)> apply;
};

class DamagedPng : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedPng, IsRefusedAndFromImageBytesThrows)
{
    Bytes png = GoodPng();
    GetParam().apply(png);
    PngPicture picture;
    EXPECT_EQ(ReadPng(png.data(), png.size(), picture), PngReadResult::Damaged);
    EXPECT_THROW(kv::forms::Bitmap::FromImageBytes(png.data(), png.size()), kv::Exception);
}

// Rewrites the chunk at `at` with `body` and a right checksum.
void ReplaceFirstChunk(Bytes& png, const char* type, const Bytes& body)
{
    Bytes chunk;
    PutChunk(chunk, type, body);
    const std::uint32_t oldLength = static_cast<std::uint32_t>(png[8] << 24 | png[9] << 16 | png[10] << 8 | png[11]);
    png.erase(png.begin() + 8, png.begin() + 8 + 12 + oldLength);
    png.insert(png.begin() + 8, chunk.begin(), chunk.end());
}

INSTANTIATE_TEST_SUITE_P(
    EachKindOfDamage, DamagedPng,
    ::testing::Values(
        Damage{"CutInTheHeader", [](Bytes& png) { png.resize(20); }},
        Damage{"CutInTheImageData", [](Bytes& png) { png.resize(kAfterHeader + 30); }},
        Damage{"CutBeforeTheEnd", [](Bytes& png) { png.resize(png.size() - 12); }},
        Damage{"ChecksumWrong", [](Bytes& png) { png[kAfterHeader + 10] ^= 0x55; }},
        Damage{"LengthPastTheEnd", [](Bytes& png) { png[kAfterHeader] = 0x7F; }},
        Damage{"LengthNearFourGigabytes", [](Bytes& png) { png[kAfterHeader] = 0xFF; }},
        Damage{"NoHeaderFirst", [](Bytes& png) { png.erase(png.begin() + 8, png.begin() + kAfterHeader); }},
        Damage{"ZeroWidth", [](Bytes& png) { ReplaceFirstChunk(png, "IHDR", Header(0, 16, 8, 6)); }},
        Damage{"DepthTheColourTypeHasNot", [](Bytes& png) { ReplaceFirstChunk(png, "IHDR", Header(16, 16, 4, 6)); }},
        Damage{"UnknownColourType", [](Bytes& png) { ReplaceFirstChunk(png, "IHDR", Header(16, 16, 8, 5)); }},
        Damage{"MoreRowsThanTheData", [](Bytes& png) { ReplaceFirstChunk(png, "IHDR", Header(16, 17, 8, 6)); }},
        Damage{"PaletteTypeWithoutPalette", [](Bytes& png) { ReplaceFirstChunk(png, "IHDR", Header(64, 16, 8, 3)); }},
        Damage{"UnknownRowFilter",
               [](Bytes& png) {
                   Bytes rows(16 * (16 * 4 + 1), 0);
                   rows[0] = 5;
                   Bytes rest(png.begin(), png.begin() + kAfterHeader);
                   PutChunk(rest, "IDAT", Compressed(rows));
                   PutChunk(rest, "IEND", {});
                   png = rest;
               }},
        Damage{"ImageDataNotDeflate",
               [](Bytes& png) {
                   Bytes rest(png.begin(), png.begin() + kAfterHeader);
                   PutChunk(rest, "IDAT", Bytes(200, 0xEE));
                   PutChunk(rest, "IEND", {});
                   png = rest;
               }}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

// An index past the palette is an error of the file's writer; it reads as
// opaque black, as the reference decoder documents it, never as memory past
// the palette.
TEST(PngReader, AnIndexPastThePaletteReadsAsOpaqueBlack)
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(png, "IHDR", Header(2, 1, 8, 3));
    PutChunk(png, "PLTE", {10, 20, 30});
    PutChunk(png, "IDAT", Compressed({0, 0, 200}));
    PutChunk(png, "IEND", {});
    PngPicture picture;
    ASSERT_EQ(ReadPng(png.data(), png.size(), picture), PngReadResult::Read);
    EXPECT_EQ(picture.pixels, (std::vector<std::uint32_t>{0xFF0A141E, 0xFF000000}));
}

TEST(PngReader, KindsItLeavesAloneAreStillDecodedThroughGdiplus)
{
    PngPicture picture;
    const std::uint8_t notPng[] = {'B', 'M', 0, 0};
    EXPECT_EQ(ReadPng(notPng, sizeof notPng, picture), PngReadResult::NotHandled);
    EXPECT_EQ(ReadPng(nullptr, 0, picture), PngReadResult::NotHandled);

    // An interlaced picture: all-zero rows of every pass, RGBA, 8x8.
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(png, "IHDR", Header(8, 8, 8, 6, 1));
    Bytes passes;
    for (const auto& [columns, rows] :
         std::initializer_list<std::pair<int, int>>{{1, 1}, {1, 1}, {2, 1}, {2, 2}, {4, 2}, {4, 4}, {8, 4}})
        for (int row = 0; row < rows; ++row) passes.resize(passes.size() + 1 + 4 * columns, 0);
    PutChunk(png, "IDAT", Compressed(passes));
    PutChunk(png, "IEND", {});
    EXPECT_EQ(ReadPng(png.data(), png.size(), picture), PngReadResult::NotHandled);
    const kv::forms::Bitmap bitmap = kv::forms::Bitmap::FromImageBytes(png.data(), png.size());
    EXPECT_EQ(bitmap.Width(), 8);
    EXPECT_EQ(bitmap.Pixel(3, 3), 0u);
}

} // namespace
