#include "platform/Stream.h"

#include <algorithm>
#include <cstring>

namespace kv {

void Stream::ReadBuffer(void* buffer, std::size_t count)
{
    if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void Stream::WriteBuffer(const void* buffer, std::size_t count)
{
    if (count != 0 && Write(buffer, count) != count) throw EWriteError();
}

std::size_t MemoryStream::Read(void* buffer, std::size_t count)
{
    const std::size_t available = position_ < data_.size() ? data_.size() - position_ : 0;
    const std::size_t moved = std::min(count, available);
    std::memcpy(buffer, data_.data() + position_, moved);
    position_ += moved;
    return moved;
}

std::size_t MemoryStream::Write(const void* buffer, std::size_t count)
{
    if (data_.size() < position_ + count) data_.resize(position_ + count);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ += count;
    return count;
}

void MemoryStream::Seek(std::int64_t position)
{
    position_ = static_cast<std::size_t>(std::clamp<std::int64_t>(position, 0, Size()));
}

FileStream FileStream::Create(const std::wstring& path)
{
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw EFileStreamError(L"Cannot create file \"" + path + L"\"");
    return FileStream(std::move(file));
}

FileStream FileStream::OpenRead(const std::wstring& path)
{
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw EFileStreamError(L"Cannot open file \"" + path + L"\"");
    return FileStream(std::move(file));
}

std::size_t FileStream::Read(void* buffer, std::size_t count)
{
    DWORD moved = 0;
    if (!::ReadFile(file_.Get(), buffer, static_cast<DWORD>(count), &moved, nullptr)) return 0;
    return moved;
}

std::size_t FileStream::Write(const void* buffer, std::size_t count)
{
    DWORD moved = 0;
    if (!::WriteFile(file_.Get(), buffer, static_cast<DWORD>(count), &moved, nullptr)) return 0;
    return moved;
}

std::int64_t FileStream::Size() const
{
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(file_.Get(), &size) ? size.QuadPart : 0;
}

std::int64_t FileStream::Position() const
{
    LARGE_INTEGER zero{}, position{};
    return ::SetFilePointerEx(file_.Get(), zero, &position, FILE_CURRENT) ? position.QuadPart : 0;
}

void FileStream::Seek(std::int64_t position)
{
    LARGE_INTEGER target{};
    target.QuadPart = position;
    ::SetFilePointerEx(file_.Get(), target, nullptr, FILE_BEGIN);
}

} // namespace kv
