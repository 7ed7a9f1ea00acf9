#include "FileMapping.h"

#include "Errors.h"

namespace Bas {

void CFileMapping::Open(const std::wstring& path)
{
    m_mapping.Reset();
    m_file = CFile(path, CFile::OpenRead | CFile::ShareRead | CFile::ShareWrite);
    m_size = m_file.GetLength();
    if (m_size == 0)
        return;
    m_mapping.Reset(::CreateFileMappingW(m_file.Handle(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!m_mapping)
        ThrowFileError(::GetLastError(), path);
}

void CFileMapping::Map(CMapping& view, std::uint64_t offset, std::size_t length) const
{
    view.Unmap();
    BAS_ASSERT(m_mapping.IsValid() && offset + length <= m_size);
    const void* data = ::MapViewOfFile(m_mapping.Get(), FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                                       static_cast<DWORD>(offset), length);
    if (!data)
        ThrowFileError(::GetLastError(), m_file.Path());
    view.m_view.Reset(data);
}

} // namespace Bas
