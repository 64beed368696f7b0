#pragma once
// Whole-buffer inflate for the reporter's data and the web error pages.
#include <cstddef>
#include <string>

#include "platform/Exceptions.h"

namespace kv::crashreport {

// Raised with zlib's text for a failed inflate.
class EZLibError : public Exception {
public:
    explicit EZLibError(int code);
    int Code() const noexcept { return code_; }

private:
    int code_;
};

// zlib's text for a negative result code ("data error" for -3).
const char* ZLibErrorText(int code) noexcept;

// Inflates a zlib stream that must end inside the `inSize` bytes. Anything
// but a complete stream (damaged data, a cut-off end) raises EZLibError; the
// output never grows beyond `outLimit` bytes.
std::string ZDecompressBuffer(const void* in, std::size_t inSize, std::size_t outLimit = 256u << 20);

} // namespace kv::crashreport
