// The library's file object: read, write, 64-bit position, seek, set length,
// end-of-file test and close. Failures are CFileExceptions with the name.
#pragma once

#include "Handles.h"

#include <cstdint>
#include <string>

namespace Bas {

class CFile {
public:
    enum EOpen : unsigned {
        OpenRead = 0x1,
        OpenWrite = 0x2,
        OpenCreate = 0x4,      // create or truncate
        ShareRead = 0x10,
        ShareWrite = 0x20,
        ShareDelete = 0x40,
    };

    CFile() = default;
    CFile(const std::wstring& path, unsigned flags) { Open(path, flags); }
    virtual ~CFile() = default;
    CFile(CFile&&) noexcept = default;
    CFile& operator=(CFile&&) noexcept = default;

    void Open(const std::wstring& path, unsigned flags);
    // Open without the exception: false, with the system's last error set.
    bool TryOpen(const std::wstring& path, unsigned flags);
    bool IsOpen() const noexcept { return m_handle.IsValid(); }
    void Close();

    // Reads up to size bytes; fewer only at the end of the file.
    std::size_t Read(void* buffer, std::size_t size);
    void Write(const void* buffer, std::size_t size);
    std::uint64_t GetPosition() const;
    void Seek(std::uint64_t position);
    std::uint64_t GetLength() const;
    void SetLength(std::uint64_t length);
    bool IsEndOfFile() const;
    // The open file's attributes, last-write time and size, from the handle
    // (GetFileInformationByHandle would add a volume query that costs more
    // than the file under some systems); false when they cannot be read.
    bool GetStatus(WIN32_FILE_ATTRIBUTE_DATA& status) const;

    const std::wstring& Path() const noexcept { return m_path; }
    HANDLE Handle() const noexcept { return m_handle.Get(); }

private:
    [[noreturn]] void Fail() const;

    CFileHandle m_handle;
    std::wstring m_path;
};

bool FileExists(const std::wstring& path);
// Whether a file (not a folder) is there, with its size, in one query.
bool FileExists(const std::wstring& path, std::uint64_t& size);
bool FolderExists(const std::wstring& path);

} // namespace Bas
