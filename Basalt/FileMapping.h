// A read-only mapping of a whole file, looked at through one view at a time.
#pragma once

#include "File.h"
#include "Handles.h"

#include <cstdint>
#include <string>

namespace Bas {

// One mapped view; unmapped when the owner goes or another view replaces it.
class CMapping {
public:
    const void* Data() const noexcept { return m_view.Get(); }
    bool IsMapped() const noexcept { return m_view.IsValid(); }
    void Unmap() noexcept { m_view.Reset(); }

private:
    friend class CFileMapping;
    CViewHandle m_view;
};

class CFileMapping {
public:
    CFileMapping() = default;
    virtual ~CFileMapping() = default;
    CFileMapping(CFileMapping&&) noexcept = default;
    CFileMapping& operator=(CFileMapping&&) noexcept = default;

    // Opens the file shared for reading and writing (a log may still be
    // written by its program) and maps it; an empty file is opened but not
    // mapped, since the system refuses to map zero bytes.
    void Open(const std::wstring& path);
    std::uint64_t Size() const noexcept { return m_size; }
    // Maps `length` bytes from `offset` into `view`, replacing what it held.
    void Map(CMapping& view, std::uint64_t offset, std::size_t length) const;

private:
    CFile m_file;
    CMappingHandle m_mapping;
    std::uint64_t m_size = 0;
};

} // namespace Bas
