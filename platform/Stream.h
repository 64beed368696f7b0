#pragma once
// Byte streams for stored formats: an in-memory stream and a file stream.
// ReadBuffer and WriteBuffer move all the bytes asked for or throw, so a
// reader of a short or corrupt stream gets EReadError instead of garbage.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Exceptions.h"
#include "platform/Handles.h"

namespace kv {

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EReadError : public EStreamError {
public:
    EReadError() : EStreamError(L"Stream read error") {}
};
class EWriteError : public EStreamError {
public:
    EWriteError() : EStreamError(L"Stream write error") {}
};
class EFileStreamError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class Stream {
public:
    virtual ~Stream() = default;
    // Moves up to `count` bytes and returns how many were moved.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Size() const = 0;
    virtual std::int64_t Position() const = 0;
    virtual void Seek(std::int64_t position) = 0;

    std::int64_t Remaining() const { return Size() - Position(); }
    void ReadBuffer(void* buffer, std::size_t count);
    void WriteBuffer(const void* buffer, std::size_t count);

    template <class T>
    T ReadValue()
    {
        T value{};
        ReadBuffer(&value, sizeof value);
        return value;
    }
    template <class T>
    void WriteValue(const T& value)
    {
        WriteBuffer(&value, sizeof value);
    }
};

class MemoryStream : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::string bytes) : data_(std::move(bytes)) {}

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }
    std::int64_t Position() const override { return static_cast<std::int64_t>(position_); }
    void Seek(std::int64_t position) override;

    const std::string& Data() const noexcept { return data_; }

private:
    std::string data_;
    std::size_t position_ = 0;
};

class FileStream : public Stream {
public:
    // Creates or truncates the file, exclusive access.
    static FileStream Create(const std::wstring& path);
    // Opens an existing file for reading; others may read but not write.
    static FileStream OpenRead(const std::wstring& path);

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Size() const override;
    std::int64_t Position() const override;
    void Seek(std::int64_t position) override;

private:
    explicit FileStream(FileHandle file) : file_(std::move(file)) {}
    FileHandle file_;
};

} // namespace kv
