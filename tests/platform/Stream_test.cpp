#include <gtest/gtest.h>

#include "common/TestSupport.h"
#include "platform/Stream.h"

namespace {

TEST(Stream, MemoryStreamReadsWhatWasWritten)
{
    kv::MemoryStream stream;
    stream.WriteValue<std::int32_t>(0x01020304);
    stream.WriteBuffer("ab", 2);
    EXPECT_EQ(stream.Size(), 6);
    stream.Seek(0);
    EXPECT_EQ(stream.ReadValue<std::int32_t>(), 0x01020304);
    EXPECT_EQ(stream.Remaining(), 2);
    char pair[2];
    stream.ReadBuffer(pair, 2);
    EXPECT_EQ(std::string(pair, 2), "ab");
    EXPECT_THROW(stream.ReadValue<std::uint8_t>(), kv::EReadError);
}

TEST(Stream, FileStreamCreatesAndReads)
{
    const std::wstring path = kvtest::ScratchFolder(L"stream") + L"data.bin";
    {
        kv::FileStream file = kv::FileStream::Create(path);
        file.WriteBuffer("hello", 5);
        EXPECT_EQ(file.Size(), 5);
    }
    kv::FileStream file = kv::FileStream::OpenRead(path);
    char text[5];
    file.ReadBuffer(text, 5);
    EXPECT_EQ(std::string(text, 5), "hello");
    EXPECT_THROW(file.ReadValue<char>(), kv::EReadError);
    EXPECT_THROW(kv::FileStream::OpenRead(path + L".missing"), kv::EFileStreamError);
}

} // namespace
