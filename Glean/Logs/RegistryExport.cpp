#include "RegistryExport.h"

#include "GleanAppLog.h"
#include "MaskedBinary.h"
#include "Message.h"
#include "NativeFileSystem.h"
#include "RegistryKey.h"
#include "TempFile.h"
#include "TextStream.h"
#include "generated/GleanMessages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace Glean {

namespace {

class CWindowsKey : public IRegistryKeySource {
public:
    explicit CWindowsKey(Bas::CRegistryKey key) : m_key(std::move(key)) {}
    std::vector<Bas::CRegistryKey::CValue> Values() override { return m_key.EnumValues(); }
    std::vector<std::wstring> SubkeyNames() override { return m_key.EnumSubkeyNames(); }

private:
    Bas::CRegistryKey m_key;
};

// Appends a byte as two hex digits and a comma.
void AppendHex(std::wstring& line, BYTE value, bool upper)
{
    const wchar_t* digits = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    line += digits[value >> 4];
    line += digits[value & 0xF];
    line += L',';
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

// A string value's text: up to the first zero character; empty when the
// data is no whole number of characters.
std::wstring TextOf(const std::vector<BYTE>& data)
{
    if (data.size() % 2 != 0)
        return {};
    std::wstring text(data.size() / 2, L'\0');
    std::memcpy(text.data(), data.data(), data.size());
    text.resize(std::wcslen(text.c_str()));
    return text;
}

std::vector<BYTE> Utf16Bytes(const std::wstring& text)
{
    std::vector<BYTE> bytes;
    bytes.reserve(text.size() * 2);
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
}

bool IsSecretName(const std::wstring& name)
{
    std::wstring upper = name;
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(std::towupper(c));
    for (const wchar_t* word : {L"PASSWORD", L"PASSWD", L"SECRET", L"TOKEN", L"CREDENTIAL"}) {
        if (upper.find(word) != std::wstring::npos)
            return true;
    }
    return false;
}

// A multi-string's strings as a registry query shows them, "\0" between
// them: what the stand-in of a secret one stands for.
std::wstring MultiText(const std::vector<BYTE>& data)
{
    std::wstring text;
    for (std::size_t at = 0; at + 1 < data.size(); at += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[at] | (data[at + 1] << 8));
        text += unit == L'\0' ? std::wstring(L"\\0") : std::wstring(1, unit);
    }
    while (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\\0") == 0)
        text.resize(text.size() - 2);
    return text;
}

// A multi-string with each of its strings masked: the zero characters, the
// empty strings between them and an odd last byte stay where they are.
std::vector<BYTE> MaskMulti(const std::vector<BYTE>& data, Bas::ILogFilter& filter)
{
    std::vector<BYTE> masked;
    masked.reserve(data.size());
    std::wstring piece;
    auto flush = [&] {
        if (!piece.empty()) {
            const std::vector<BYTE> bytes = Utf16Bytes(filter.Filter(piece));
            masked.insert(masked.end(), bytes.begin(), bytes.end());
            piece.clear();
        }
    };
    const std::size_t whole = data.size() - data.size() % 2;
    for (std::size_t at = 0; at < whole; at += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[at] | (data[at + 1] << 8));
        if (unit != L'\0') {
            piece.push_back(unit);
            continue;
        }
        flush();
        masked.push_back(0);
        masked.push_back(0);
    }
    flush();
    if (whole < data.size())
        masked.push_back(data.back());
    return masked;
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

std::wstring CRegistryExporter::mask(const std::wstring& text) const
{
    return m_filter != nullptr ? m_filter->Filter(text) : text;
}

void CRegistryExporter::addExpand(std::wstring line, std::size_t nameLength, const std::wstring& text)
{
    std::size_t counter = nameLength + 10;
    const std::size_t count = (text.size() + 1) * 2;
    for (std::size_t i = 0; i < count; ++i) {
        const wchar_t unit = i / 2 < text.size() ? text[i / 2] : L'\0';
        AppendHex(line, static_cast<BYTE>(i % 2 == 0 ? unit & 0xFF : unit >> 8), false);
        counter += 3;
        if (counter > 76 && i + 1 < count) {
            line += L"\\\n  ";
            counter = 2;
        }
    }
    line.pop_back();
    add(std::move(line));
}

void CRegistryExporter::addHex(std::wstring line, const std::vector<BYTE>& data, bool multi)
{
    for (BYTE byte : data) {
        if (multi && line.size() > 76) {
            line += L'\\';
            add(std::move(line));
            line = L"  ";
        }
        AppendHex(line, byte, !multi);
    }
    if (!data.empty())
        line.pop_back();
    add(std::move(line));
}

void CRegistryExporter::exportValue(const Bas::CRegistryKey::CValue& value)
{
    const std::wstring name = mask(value.name);
    const std::wstring prefix = name.empty() ? L"@=" : L"\"" + Escape(name) + L"\"=";
    const DWORD type = value.type;
    if (value.error != ERROR_SUCCESS) {
        // The data could not be read: the value's type with the code.
        const wchar_t* token = type == REG_SZ          ? L"\"\""
                               : type == REG_DWORD     ? L"dword:"
                               : type == REG_EXPAND_SZ ? L"hex(2):"
                               : type == REG_MULTI_SZ  ? L"hex(7):"
                               : type == REG_BINARY    ? L"hex:"
                                                       : nullptr;
        if (token != nullptr) {
            wchar_t text[32];
            std::swprintf(text, 32, L" ; error(0x%08x)", static_cast<unsigned>(value.error));
            add(prefix + token + text);
        }
        return;
    }
    // A value named like a password keeps only a stand-in for its data,
    // whatever the data holds.
    Bas::ILogFilter* const secret = m_filter != nullptr && IsSecretName(value.name) ? m_filter : nullptr;
    switch (type) {
    case REG_SZ: {
        const std::wstring text = TextOf(value.data);
        add(prefix + L"\"" + Escape(secret != nullptr ? secret->SecretStandIn(text) : mask(text)) + L"\"");
        break;
    }
    case REG_DWORD: {
        // Little-endian, from at most the first four bytes.
        DWORD number = 0;
        std::memcpy(&number, value.data.data(), std::min<std::size_t>(value.data.size(), 4));
        wchar_t text[16];
        std::swprintf(text, 16, L"dword:%08x", static_cast<unsigned>(number));
        if (secret != nullptr)
            add(prefix + L"\"" + Escape(secret->SecretStandIn(text)) + L"\"");
        else
            add(prefix + text);
        break;
    }
    case REG_EXPAND_SZ: {
        const std::wstring text = TextOf(value.data);
        addExpand(prefix + L"hex(2):", name.size(), secret != nullptr ? secret->SecretStandIn(text) : mask(text));
        break;
    }
    case REG_MULTI_SZ:
        if (secret != nullptr) {
            const std::wstring standIn = secret->SecretStandIn(MultiText(value.data));
            addHex(prefix + L"hex(7):", Utf16Bytes(standIn + std::wstring(2, L'\0')), true);
        } else {
            addHex(prefix + L"hex(7):", m_filter != nullptr ? MaskMulti(value.data, *m_filter) : value.data, true);
        }
        break;
    case REG_BINARY:
        if (secret != nullptr) {
            std::wstring shown = L"hex:";
            for (BYTE byte : value.data)
                AppendHex(shown, byte, true);
            if (!value.data.empty())
                shown.pop_back();
            addHex(prefix + L"hex:", Utf16Bytes(secret->SecretStandIn(shown)), false);
        } else {
            addHex(prefix + L"hex:", m_filter != nullptr ? MaskBinary(value.data, *m_filter) : value.data, false);
        }
        break;
    default:
        break;
    }
}

void CRegistryExporter::exportKey(HKEY root, const std::wstring& path)
{
    if (!m_lines.empty())
        m_lines.emplace_back();
    add(L"[" + mask(m_rootName + L"\\" + path) + L"]");
    const auto key = m_source.Open(root, path);
    if (!key)
        return;
    for (const auto& value : key->Values())
        exportValue(value);
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
    m_filter = Bas::LogFilter();
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
    Bas::WriteLines(filePath, lines, Bas::CLogWriter::FilteredByMaker);
    return true;
}

std::vector<CRegistryExportFile> ExportAll(IRegistrySource& source,
                                           const std::vector<std::pair<std::wstring, std::wstring>>& requests,
                                           const std::wstring& folder)
{
    std::vector<CRegistryExportFile> files;
    CRegistryExporter exporter(source);
    CGleanAppLog& log = CGleanAppLog::Instance();
    // Each export goes into a new temporary file of its own: the configured
    // file name is only the archive name, so it never names a path.
    auto exportOne = [&](const std::wstring& keyPath, const std::wstring& fileName) {
        std::vector<std::wstring> lines;
        if (!exporter.BuildLines(keyPath, lines))
            return false;
        const std::wstring path = Bas::CreateTempFile(folder, L"GRL", L"tmp");
        Bas::WriteLines(path, lines, Bas::CLogWriter::FilteredByMaker);
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
