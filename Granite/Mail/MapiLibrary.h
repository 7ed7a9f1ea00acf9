// The MAPI library of the installed mail system, found and loaded once per
// process: a library already loaded, the default mail client's, the mail
// program's own, and the system's mapi32.dll, in this order.
#pragma once

#include "WinApi.h"

#include <atomic>

namespace Granite {

// The library, or null when no candidate loads (then nothing is cached and
// a later call searches again). Safe from several threads: the handle is
// published with a compare-and-exchange, and a second one loaded meanwhile
// is freed.
HMODULE GetMapiModule();
// Counts the handles published; a cached function pointer is looked up
// again when the counter has changed since.
unsigned MapiLoadCount() noexcept;

// One function of the MAPI library, cached. x86 libraries export some of
// them with their stdcall decoration, which is tried second.
template <class Fn>
class CMapiFunction {
public:
    CMapiFunction(const char* name, const char* decorated) noexcept : m_name(name), m_decorated(decorated) {}
    // Null when the library or the function is missing.
    Fn Get()
    {
        const unsigned count = MapiLoadCount();
        if (m_function == nullptr || m_count != count) {
            HMODULE module = GetMapiModule();
            m_function = module == nullptr ? nullptr : Bas::GetProc<Fn>(module, m_name);
            if (m_function == nullptr && module != nullptr && m_decorated != nullptr)
                m_function = Bas::GetProc<Fn>(module, m_decorated);
            m_count = MapiLoadCount();
        }
        return m_function;
    }

private:
    const char* m_name;
    const char* m_decorated;
    Fn m_function = nullptr;
    unsigned m_count = 0;
};

} // namespace Granite
