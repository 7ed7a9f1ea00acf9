#include "Dll.h"

#include "BasaltMessages.h"
#include "Errors.h"

namespace Bas {

CDll::CDll(const std::wstring& name) : m_module(::LoadLibraryW(name.c_str())), m_name(name)
{
    if (!m_module) {
        const DWORD code = ::GetLastError();
        ThrowCheck(ERR_CANT_LOAD_DLL, name, GetLastErrorText(code));
    }
}

void CDll::checkFunction(bool found, const char*) const
{
    BAS_ASSERT(found);
}

} // namespace Bas
