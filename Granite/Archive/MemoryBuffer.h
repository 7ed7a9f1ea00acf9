// A buffer of fixed capacity whose address space is reserved at once and
// committed page by page. 0 <= size <= committed size <= capacity; the
// committed size is a whole number of 4096-byte pages.
#pragma once

#include <cstddef>

namespace Granite {

class CMemoryBuffer {
public:
    static constexpr std::size_t kPageSize = 4096;

    explicit CMemoryBuffer(std::size_t capacity);
    ~CMemoryBuffer();
    CMemoryBuffer(const CMemoryBuffer&) = delete;
    CMemoryBuffer& operator=(const CMemoryBuffer&) = delete;

    unsigned char* Data() const noexcept { return m_data; }
    std::size_t Size() const noexcept { return m_size; }
    std::size_t CommittedSize() const noexcept { return m_committed; }
    std::size_t Capacity() const noexcept { return m_capacity; }

    // Commits the pages that n bytes need, then size = n.
    void SetSize(std::size_t size);
    // Commits or decommits so that exactly the pages for n bytes are
    // committed; the size is cut when it no longer fits.
    void SetCommittedSize(std::size_t size);

private:
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_committed = 0;
    std::size_t m_capacity;
};

} // namespace Granite
