// The MD5 message digest: fed in pieces of any size, finished once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Granite {

class CMd5 {
public:
    CMd5() noexcept;
    void Update(const void* data, std::size_t size) noexcept;
    // The 16 digest bytes; the object is then spent until Reset.
    std::array<std::uint8_t, 16> Finish() noexcept;
    void Reset() noexcept;

    // 32 upper-case hexadecimal digits.
    static std::wstring ToText(const std::array<std::uint8_t, 16>& digest);

private:
    void transform(const std::uint8_t* block) noexcept;

    std::uint32_t m_state[4];
    std::uint64_t m_length = 0; // bytes so far
    std::uint8_t m_block[64];
};

} // namespace Granite
