// The DLL loader: a module loaded by name or path, freed with the object.
#pragma once

#include "Handles.h"

#include <string>

namespace Bas {

class CDll {
public:
    // Throws ERR_CANT_LOAD_DLL with the name and the Windows text of the
    // load's error.
    explicit CDll(const std::wstring& name);

    HMODULE Handle() const noexcept { return m_module.Get(); }
    // An exported function; a missing one fails the loader's check (an
    // internal error), and is null where the check does not interrupt.
    template <class Fn>
    Fn GetFunction(const char* name) const
    {
        const auto function = GetProc<Fn>(m_module.Get(), name);
        checkFunction(function != nullptr, name);
        return function;
    }

private:
    void checkFunction(bool found, const char* name) const;

    CModuleHandle m_module;
    std::wstring m_name;
};

} // namespace Bas
