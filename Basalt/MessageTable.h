// The message-table exports every module with message texts carries:
// GetResourceID, NumberOfMessages, GetMessageName, GetMessageSystemVersion and
// the data export __BedrockUsed. Header-only, so that a language resource
// module can carry its table without the rest of the library.
//
// Use once per module, in one source file:
//     static const wchar_t* const kNames[] = {
//     #include "generated/GleanMessages.inc"
//     };
//     BAS_DEFINE_MESSAGE_TABLE(kNames)
#pragma once

#include <cstddef>

namespace Bas::MessageTable {

constexpr int kFirstId = 4096;
constexpr int kSystemVersion = 200;

// Names compare by UTF-16 code units as unsigned values.
constexpr int Compare(const wchar_t* a, const wchar_t* b) noexcept
{
    for (;; ++a, ++b) {
        const auto ca = static_cast<unsigned short>(*a);
        const auto cb = static_cast<unsigned short>(*b);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

template <std::size_t N>
constexpr bool IsSorted(const wchar_t* const (&names)[N]) noexcept
{
    for (std::size_t i = 1; i < N; ++i)
        if (Compare(names[i - 1], names[i]) >= 0)
            return false;
    return true;
}

// Binary search over the sorted table; 0 when the name is absent.
constexpr int FindId(const wchar_t* const* names, int count, const wchar_t* name) noexcept
{
    if (name == nullptr)
        return 0;
    int low = 0;
    int high = count - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const int order = Compare(names[middle], name);
        if (order == 0)
            return kFirstId + middle;
        if (order < 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return 0;
}

} // namespace Bas::MessageTable

#define BAS_DEFINE_MESSAGE_TABLE(names)                                                         \
    static_assert(::Bas::MessageTable::IsSorted(names),                                        \
                  "message names must be sorted by UTF-16 code units, without duplicates");   \
    extern "C" __declspec(dllexport) int GetResourceID(const wchar_t* name)                   \
    {                                                                                          \
        return ::Bas::MessageTable::FindId(names, static_cast<int>(sizeof(names) / sizeof(names[0])), name); \
    }                                                                                          \
    extern "C" __declspec(dllexport) int NumberOfMessages()                                   \
    {                                                                                          \
        return static_cast<int>(sizeof(names) / sizeof(names[0]));                             \
    }                                                                                          \
    extern "C" __declspec(dllexport) const wchar_t* GetMessageName(int index)                 \
    {                                                                                          \
        return names[index];                                                                   \
    }                                                                                          \
    extern "C" __declspec(dllexport) int GetMessageSystemVersion()                            \
    {                                                                                          \
        return ::Bas::MessageTable::kSystemVersion;                                            \
    }                                                                                          \
    extern "C" {                                                                               \
    __declspec(dllexport) int __BedrockUsed = 1;                                               \
    }
