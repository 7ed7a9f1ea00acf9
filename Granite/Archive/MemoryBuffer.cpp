#include "MemoryBuffer.h"

#include "Errors.h"

namespace Granite {

namespace {

std::size_t RoundToPages(std::size_t size)
{
    return (size + CMemoryBuffer::kPageSize - 1) / CMemoryBuffer::kPageSize * CMemoryBuffer::kPageSize;
}

} // namespace

CMemoryBuffer::CMemoryBuffer(std::size_t capacity) : m_capacity(capacity)
{
    if (capacity == 0)
        return;
    m_data = static_cast<unsigned char*>(::VirtualAlloc(nullptr, RoundToPages(capacity), MEM_RESERVE, PAGE_NOACCESS));
    if (m_data == nullptr)
        Bas::ThrowMemory();
}

CMemoryBuffer::~CMemoryBuffer()
{
    if (m_data != nullptr)
        ::VirtualFree(m_data, 0, MEM_RELEASE);
}

void CMemoryBuffer::SetSize(std::size_t size)
{
    BAS_ASSERT(size <= m_capacity);
    if (RoundToPages(size) > m_committed)
        SetCommittedSize(size);
    m_size = size;
}

void CMemoryBuffer::SetCommittedSize(std::size_t size)
{
    BAS_ASSERT(size <= m_capacity);
    const std::size_t pages = RoundToPages(size);
    if (pages > m_committed) {
        if (::VirtualAlloc(m_data + m_committed, pages - m_committed, MEM_COMMIT, PAGE_READWRITE) == nullptr)
            Bas::ThrowMemory();
    } else if (pages < m_committed) {
        BAS_PRESUME_LAST_ERROR(::VirtualFree(m_data + pages, m_committed - pages, MEM_DECOMMIT));
    }
    m_committed = pages;
    if (m_size > m_committed)
        m_size = m_committed;
}

} // namespace Granite
