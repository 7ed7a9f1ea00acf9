#include "File.h"

#include "Errors.h"
#include "NativeFileSystem.h"

#include <algorithm>

namespace Bas {

void CFile::Fail() const
{
    ThrowFileError(::GetLastError(), m_path);
}

void CFile::Open(const std::wstring& path, unsigned flags)
{
    if (!TryOpen(path, flags))
        Fail();
}

bool CFile::TryOpen(const std::wstring& path, unsigned flags)
{
    BAS_ASSERT(!IsOpen());
    m_path = path;
    DWORD access = 0;
    if (flags & OpenRead)
        access |= GENERIC_READ;
    if (flags & OpenWrite)
        access |= GENERIC_WRITE;
    DWORD share = 0;
    if (flags & ShareRead)
        share |= FILE_SHARE_READ;
    if (flags & ShareWrite)
        share |= FILE_SHARE_WRITE;
    if (flags & ShareDelete)
        share |= FILE_SHARE_DELETE;
    const DWORD disposition = (flags & OpenCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
    m_handle.Reset(
        ::CreateFileW(LongPath(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_handle.IsValid();
}

void CFile::Close()
{
    m_handle.Reset();
}

std::size_t CFile::Read(void* buffer, std::size_t size)
{
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - total, 0x40000000));
        DWORD read = 0;
        if (!::ReadFile(m_handle.Get(), bytes + total, chunk, &read, nullptr))
            Fail();
        if (read == 0)
            break;
        total += read;
    }
    return total;
}

void CFile::Write(const void* buffer, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 0x40000000));
        DWORD written = 0;
        if (!::WriteFile(m_handle.Get(), bytes, chunk, &written, nullptr))
            Fail();
        // A write that succeeds without taking a byte would loop for ever.
        if (written == 0)
            ThrowFileError(ERROR_DISK_FULL, m_path);
        bytes += written;
        size -= written;
    }
}

std::uint64_t CFile::GetPosition() const
{
    LARGE_INTEGER zero = {};
    LARGE_INTEGER position = {};
    if (!::SetFilePointerEx(m_handle.Get(), zero, &position, FILE_CURRENT))
        Fail();
    return static_cast<std::uint64_t>(position.QuadPart);
}

void CFile::Seek(std::uint64_t position)
{
    LARGE_INTEGER target;
    target.QuadPart = static_cast<LONGLONG>(position);
    if (!::SetFilePointerEx(m_handle.Get(), target, nullptr, FILE_BEGIN))
        Fail();
}

std::uint64_t CFile::GetLength() const
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(m_handle.Get(), &size))
        Fail();
    return static_cast<std::uint64_t>(size.QuadPart);
}

void CFile::SetLength(std::uint64_t length)
{
    const std::uint64_t position = GetPosition();
    Seek(length);
    if (!::SetEndOfFile(m_handle.Get()))
        Fail();
    Seek(std::min(position, length));
}

bool CFile::IsEndOfFile() const
{
    return GetPosition() >= GetLength();
}

bool CFile::GetStatus(WIN32_FILE_ATTRIBUTE_DATA& status) const
{
    FILE_BASIC_INFO basic = {};
    LARGE_INTEGER size = {};
    if (!::GetFileInformationByHandleEx(m_handle.Get(), FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileSizeEx(m_handle.Get(), &size))
        return false;
    status.dwFileAttributes = basic.FileAttributes;
    status.ftCreationTime.dwLowDateTime = static_cast<DWORD>(basic.CreationTime.QuadPart);
    status.ftCreationTime.dwHighDateTime = static_cast<DWORD>(basic.CreationTime.QuadPart >> 32);
    status.ftLastAccessTime.dwLowDateTime = static_cast<DWORD>(basic.LastAccessTime.QuadPart);
    status.ftLastAccessTime.dwHighDateTime = static_cast<DWORD>(basic.LastAccessTime.QuadPart >> 32);
    status.ftLastWriteTime.dwLowDateTime = static_cast<DWORD>(basic.LastWriteTime.QuadPart);
    status.ftLastWriteTime.dwHighDateTime = static_cast<DWORD>(basic.LastWriteTime.QuadPart >> 32);
    status.nFileSizeHigh = static_cast<DWORD>(size.QuadPart >> 32);
    status.nFileSizeLow = static_cast<DWORD>(size.QuadPart);
    return true;
}

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FileExists(const std::wstring& path, std::uint64_t& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    size = std::uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    return true;
}

bool FolderExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(LongPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace Bas
