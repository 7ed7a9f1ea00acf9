#include "RegistryExport.h"

#include "GleanAppLog.h"
#include "Message.h"
#include "NativeFileSystem.h"
#include "RegistryKey.h"
#include "TempFile.h"
#include "TextStream.h"
#include "generated/GleanMessages.h"

#include <cstdio>

namespace Glean {

namespace {

class CWindowsKey : public IRegistryKeySource {
public:
    explicit CWindowsKey(Bas::CRegistryKey key) : m_key(std::move(key)) {}
    std::vector<std::wstring> ValueNames() override { return m_key.EnumValueNames(); }
    DWORD ValueType(const std::wstring& name) override { return m_key.GetValueType(name); }
    std::wstring ReadString(const std::wstring& name) override { return m_key.ReadString(name); }
    DWORD ReadDword(const std::wstring& name) override
    {
        DWORD value = 0;
        m_key.ReadDword(name, value);
        return value;
    }
    LONG ReadBytes(const std::wstring& name, std::vector<BYTE>& data) override { return m_key.ReadBytes(name, data); }
    std::vector<std::wstring> SubkeyNames() override { return m_key.EnumSubkeyNames(); }

private:
    Bas::CRegistryKey m_key;
};

std::wstring Hex(BYTE value, bool upper)
{
    wchar_t text[4];
    std::swprintf(text, 4, upper ? L"%02X" : L"%02x", value);
    return text;
}

// The first component and the rest of a key path, the rest's components
// joined with single backslashes.
std::pair<std::wstring, std::wstring> SplitKeyPath(const std::wstring& keyPath)
{
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = keyPath.find(L'\\', start);
        parts.push_back(keyPath.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start));
        if (slash == std::wstring::npos)
            break;
        start = slash + 1;
    }
    std::wstring rest;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].empty())
            continue;
        if (!rest.empty())
            rest += L'\\';
        rest += parts[i];
    }
    return {parts[0], rest};
}

} // namespace

std::unique_ptr<IRegistryKeySource> CWindowsRegistrySource::Open(HKEY root, const std::wstring& path)
{
    Bas::CRegistryKey key;
    if (!key.Open(root, path.c_str(), Bas::CRegistryKey::Read))
        return nullptr;
    return std::make_unique<CWindowsKey>(std::move(key));
}

HKEY CRegistryExporter::RootKey(const std::wstring& name)
{
    const HKEY root = Bas::CRegistryKey::RootKey(name);
    return root != nullptr ? root : HKEY_CURRENT_USER;
}

std::wstring CRegistryExporter::Escape(const std::wstring& text)
{
    std::wstring escaped;
    escaped.reserve(text.size());
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"')
            escaped += L'\\';
        escaped += c;
    }
    return escaped;
}

void CRegistryExporter::add(std::wstring line)
{
    for (std::size_t at = line.find(L'\n'); at != std::wstring::npos; at = line.find(L'\n', at + 2))
        line.insert(at, 1, L'\r');
    m_lines.push_back(std::move(line));
}

void CRegistryExporter::exportValue(IRegistryKeySource& key, const std::wstring& name)
{
    const std::wstring prefix = name.empty() ? L"@=" : L"\"" + Escape(name) + L"\"=";
    const DWORD type = key.ValueType(name);
    switch (type) {
    case REG_SZ:
        add(prefix + L"\"" + Escape(key.ReadString(name)) + L"\"");
        break;
    case REG_DWORD: {
        wchar_t text[16];
        std::swprintf(text, 16, L"%08x", static_cast<unsigned>(key.ReadDword(name)));
        add(prefix + L"dword:" + text);
        break;
    }
    case REG_EXPAND_SZ: {
        const std::wstring text = key.ReadString(name);
        std::wstring line = prefix + L"hex(2):";
        std::size_t counter = name.size() + 10;
        const std::size_t count = (text.size() + 1) * 2;
        for (std::size_t i = 0; i < count; ++i) {
            const wchar_t unit = i / 2 < text.size() ? text[i / 2] : L'\0';
            line += Hex(static_cast<BYTE>(i % 2 == 0 ? unit & 0xFF : unit >> 8), false) + L",";
            counter += 3;
            if (counter > 76 && i + 1 < count) {
                line += L"\\\n  ";
                counter = 2;
            }
        }
        line.pop_back();
        add(std::move(line));
        break;
    }
    case REG_MULTI_SZ:
    case REG_BINARY: {
        const bool multi = type == REG_MULTI_SZ;
        std::wstring line = prefix + (multi ? L"hex(7):" : L"hex:");
        std::vector<BYTE> data;
        const LONG result = key.ReadBytes(name, data);
        if (result != ERROR_SUCCESS) {
            wchar_t text[32];
            std::swprintf(text, 32, L" ; error(0x%08x)", static_cast<unsigned>(result));
            add(line + text);
            break;
        }
        for (BYTE byte : data) {
            if (multi && line.size() > 76) {
                line += L'\\';
                add(std::move(line));
                line = L"  ";
            }
            line += Hex(byte, !multi) + L",";
        }
        if (!data.empty())
            line.pop_back();
        add(std::move(line));
        break;
    }
    default:
        break;
    }
}

void CRegistryExporter::exportKey(HKEY root, const std::wstring& path)
{
    if (!m_lines.empty())
        m_lines.emplace_back();
    add(L"[" + m_rootName + L"\\" + path + L"]");
    const auto key = m_source.Open(root, path);
    if (!key)
        return;
    for (const std::wstring& name : key->ValueNames())
        exportValue(*key, name);
    for (const std::wstring& name : key->SubkeyNames())
        exportKey(root, path + L"\\" + name);
}

bool CRegistryExporter::BuildLines(const std::wstring& keyPath, std::vector<std::wstring>& lines)
{
    const auto [rootName, path] = SplitKeyPath(keyPath);
    const HKEY root = RootKey(rootName);
    if (!m_source.Open(root, path))
        return false;
    m_rootName = rootName;
    m_lines = {L"Windows Registry Editor Version 5.00"};
    exportKey(root, path);
    lines = std::move(m_lines);
    m_lines.clear();
    return true;
}

bool CRegistryExporter::ExportKey(const std::wstring& keyPath, const std::wstring& filePath)
{
    std::vector<std::wstring> lines;
    if (!BuildLines(keyPath, lines))
        return false;
    Bas::WriteLines(filePath, lines);
    return true;
}

std::vector<CRegistryExportFile> ExportAll(IRegistrySource& source,
                                           const std::vector<std::pair<std::wstring, std::wstring>>& requests,
                                           const std::wstring& folder)
{
    std::vector<CRegistryExportFile> files;
    CRegistryExporter exporter(source);
    CGleanAppLog& log = CGleanAppLog::Instance();
    auto exportOne = [&](const std::wstring& keyPath, const std::wstring& fileName) {
        const std::wstring path = Bas::JoinPath(folder, fileName);
        // A file left by an earlier run must never stand for this key.
        ::DeleteFileW(path.c_str());
        if (!exporter.ExportKey(keyPath, path))
            return false;
        Bas::RegisterTempFile(path);
        files.push_back({path, fileName});
        return true;
    };
    for (const auto& [keyPath, fileName] : requests) {
        // A whole root in a support archive is never what a settings author
        // means, and it would take very long.
        if (SplitKeyPath(keyPath).second.empty()) {
            log.AddLine(Bas::Format(MSG_REGISTRY_ROOT_NOT_EXPORTED, keyPath));
            continue;
        }
        if (keyPath.find(L'*') == std::wstring::npos) {
            if (!exportOne(keyPath, fileName))
                log.AddLine(Bas::Format(MSG_KEY_NOT_FOUND, keyPath));
            continue;
        }
        bool any = false;
        for (int n = 1; n <= 99; ++n) {
            const std::wstring number = std::to_wstring(n);
            std::wstring numbered = keyPath;
            for (std::size_t at = numbered.find(L'*'); at != std::wstring::npos;
                 at = numbered.find(L'*', at + number.size()))
                numbered.replace(at, 1, number);
            std::wstring name = fileName;
            name.insert(name.size() < 4 ? 0 : name.size() - 4, number);
            any = exportOne(numbered, name) || any;
        }
        if (!any)
            log.AddLine(Bas::Format(MSG_KEY_NOT_FOUND, keyPath));
    }
    return files;
}

} // namespace Glean
