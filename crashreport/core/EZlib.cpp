#include "crashreport/core/EZlib.h"

#include <zlib.h>

#include <climits>

namespace kv::crashreport {
namespace {

std::wstring WideText(const char* text) { return std::wstring(text, text + std::char_traits<char>::length(text)); }

// Ends the inflate on every way out of ZDecompressBuffer.
class InflateSession {
public:
    explicit InflateSession(z_stream& stream) : stream_(stream)
    {
        const int result = inflateInit(&stream_);
        if (result != Z_OK) throw EZLibError(result);
    }
    ~InflateSession() { inflateEnd(&stream_); }
    InflateSession(const InflateSession&) = delete;
    InflateSession& operator=(const InflateSession&) = delete;

private:
    z_stream& stream_;
};

} // namespace

const char* ZLibErrorText(int code) noexcept
{
    switch (code) {
    case Z_ERRNO: return "file error";
    case Z_STREAM_ERROR: return "stream error";
    case Z_DATA_ERROR: return "data error";
    case Z_MEM_ERROR: return "insufficient memory";
    case Z_BUF_ERROR: return "buffer error";
    case Z_VERSION_ERROR: return "incompatible version";
    default: return "";
    }
}

EZLibError::EZLibError(int code) : Exception(WideText(ZLibErrorText(code))), code_(code) {}

std::string ZDecompressBuffer(const void* in, std::size_t inSize, std::size_t outLimit)
{
    if (inSize > UINT_MAX) throw EZLibError(Z_BUF_ERROR);
    // The output grows in steps of the input size rounded up to 256 bytes.
    const std::size_t step = (inSize + 255) / 256 * 256 + 256;
    std::string out(step, '\0');
    z_stream stream{};
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(in));
    stream.avail_in = static_cast<uInt>(inSize);
    InflateSession session(stream);
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(out.data()) + stream.total_out;
        stream.avail_out = static_cast<uInt>(out.size() - stream.total_out);
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END) break;
        if (result != Z_OK && result != Z_BUF_ERROR) throw EZLibError(result);
        if (stream.avail_out != 0) throw EZLibError(Z_BUF_ERROR); // the input ended inside the stream
        if (out.size() >= outLimit) throw EZLibError(Z_MEM_ERROR);
        out.resize(std::min(out.size() + step, outLimit));
    }
    out.resize(stream.total_out);
    return out;
}

} // namespace kv::crashreport
