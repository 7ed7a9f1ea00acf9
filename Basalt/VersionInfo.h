// The version resource of an executable file or DLL.
#pragma once

#include "WinApi.h"

#include <string>
#include <vector>

namespace Bas {

class CVersionInfo {
public:
    // A file without a version resource leaves the object not loaded.
    void LoadFromFile(const std::wstring& path);
    bool IsLoaded() const noexcept { return m_loaded; }
    bool GetFixedFileInfo(VS_FIXEDFILEINFO& info) const;
    // A string value of the first translation; empty when absent.
    std::wstring GetStringValue(const std::wstring& name) const;

private:
    bool m_loaded = false;
    std::vector<unsigned char> m_block;
};

} // namespace Bas
