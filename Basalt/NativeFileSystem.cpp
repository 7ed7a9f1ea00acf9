#include "NativeFileSystem.h"

#include <vector>

namespace Bas {

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

} // namespace

std::wstring GetModulePath(HMODULE module)
{
    // The path can exceed MAX_PATH: grow until it is not truncated.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring FolderOf(const std::wstring& path)
{
    const auto slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return {};
    if (slash == 2 && path[1] == L':')
        return path.substr(0, 2);
    return path.substr(0, slash);
}

std::wstring FileNameOf(const std::wstring& path)
{
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool IsRelativePath(const std::wstring& path)
{
    if (!path.empty() && IsSeparator(path[0]))
        return false;
    return !(path.size() >= 2 && path[1] == L':');
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty())
        return name;
    std::wstring result = folder;
    std::size_t start = 0;
    while (start < name.size() && IsSeparator(name[start]))
        ++start;
    if (!IsSeparator(result.back()))
        result += L'\\';
    result.append(name, start, std::wstring::npos);
    return result;
}

} // namespace Bas
