#include "RegistryExport.h"

#include "Errors.h"
#include "GleanAppLog.h"
#include "MaskedBinary.h"
#include "Message.h"
#include "MessageLoopMica.h"
#include "NativeFileSystem.h"
#include "RegistryKey.h"
#include "TempFile.h"
#include "TextStream.h"
#include "generated/GleanMessages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <cwctype>
#include <functional>

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

// The lines collected in memory.
class CLineList : public ILineSink {
public:
    explicit CLineList(std::vector<std::wstring>& lines) : m_lines(lines) {}
    void AddLine(std::wstring line) override { m_lines.push_back(std::move(line)); }

private:
    std::vector<std::wstring>& m_lines;
};

// The lines written to a file made at the first line, so that an export
// whose key cannot be opened makes none; they pass through a buffer of
// about 64 KiB, so that a large export costs few writes.
class CExportFile : public ILineSink {
public:
    explicit CExportFile(std::function<std::wstring()> makePath) : m_makePath(std::move(makePath)) {}

    void AddLine(std::wstring line) override
    {
        if (!m_file) {
            m_path = m_makePath();
            // Every piece was masked by the exporter: the writer does not
            // filter the lines again.
            m_file = std::make_unique<Bas::CLogWriter>(m_path, Bas::CLogWriter::FilteredByMaker);
        }
        m_buffer += line;
        m_buffer += L"\r\n";
        if (m_buffer.size() >= kBufferUnits)
            flush();
    }
    // Writes what is left and closes the file.
    void Close()
    {
        if (!m_file)
            return;
        flush();
        m_file->Close();
    }
    // Closes the file without writing what is left; its path.
    const std::wstring& Abandon() noexcept
    {
        m_file.reset();
        return m_path;
    }
    // The file's path; empty while no line came.
    const std::wstring& Path() const noexcept { return m_path; }

private:
    static constexpr std::size_t kBufferUnits = 0x8000;

    void flush()
    {
        m_file->WriteText(m_buffer);
        m_buffer.clear();
    }

    std::function<std::wstring()> m_makePath;
    std::wstring m_path;
    std::unique_ptr<Bas::CLogWriter> m_file;
    std::wstring m_buffer;
};

} // namespace

std::unique_ptr<IRegistryKeySource> CWindowsRegistrySource::Open(HKEY root, const std::wstring& path)
{
    Bas::CRegistryKey key;
    if (!key.Open(root, path.c_str(), Bas::CRegistryKey::Read))
        return nullptr;
    return std::make_unique<CWindowsKey>(std::move(key));
}

std::unique_ptr<IRegistryKeySource> CWindowsRegistrySource::OpenSubkey(HKEY root, const std::wstring& path)
{
    Bas::CRegistryKey key;
    if (!key.Open(root, path.c_str(), Bas::CRegistryKey::ReadLink))
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
    m_sink->AddLine(std::move(line));
}

void CRegistryExporter::progress() const
{
    if (m_progress)
        m_progress();
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
    case REG_LINK:
        // The path a link leads to, as UTF-16 without a terminating zero.
        if (secret != nullptr)
            addHex(prefix + L"hex(6):", Utf16Bytes(secret->SecretStandIn(MultiText(value.data))), true);
        else
            addHex(prefix + L"hex(6):", m_filter != nullptr ? MaskMulti(value.data, *m_filter) : value.data, true);
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

void CRegistryExporter::exportKey(HKEY root, std::unique_ptr<IRegistryKeySource> key, std::size_t depth)
{
    progress();
    add({});
    add(L"[" + mask(m_rootName + L"\\" + m_path) + L"]");
    if (!key)
        return;
    for (const auto& value : key->Values()) {
        progress();
        exportValue(value);
    }
    const std::vector<std::wstring> names = key->SubkeyNames();
    key.reset();
    if (!names.empty() && depth >= kMaxDepth) {
        if (m_cutKey.empty())
            m_cutKey = m_rootName + L"\\" + m_path;
        return;
    }
    const std::size_t length = m_path.size();
    for (const std::wstring& name : names) {
        m_path += L'\\';
        m_path += name;
        exportKey(root, m_source.OpenSubkey(root, m_path), depth + 1);
        m_path.resize(length);
    }
}

bool CRegistryExporter::Export(const std::wstring& keyPath, ILineSink& sink)
{
    auto [rootName, path] = SplitKeyPath(keyPath);
    const HKEY root = RootKey(rootName);
    auto key = m_source.Open(root, path);
    if (!key)
        return false;
    m_rootName = std::move(rootName);
    m_path = std::move(path);
    m_cutKey.clear();
    m_filter = Bas::LogFilter();
    m_sink = &sink;
    add(L"Windows Registry Editor Version 5.00");
    exportKey(root, std::move(key), 0);
    m_sink = nullptr;
    return true;
}

bool CRegistryExporter::BuildLines(const std::wstring& keyPath, std::vector<std::wstring>& lines)
{
    std::vector<std::wstring> built;
    CLineList sink(built);
    if (!Export(keyPath, sink))
        return false;
    lines = std::move(built);
    return true;
}

bool CRegistryExporter::ExportKey(const std::wstring& keyPath, const std::wstring& filePath)
{
    CExportFile file([&] { return filePath; });
    if (!Export(keyPath, file))
        return false;
    file.Close();
    return true;
}

std::vector<CRegistryExportFile> ExportAll(IRegistrySource& source,
                                           const std::vector<std::pair<std::wstring, std::wstring>>& requests,
                                           const std::wstring& folder, std::vector<CRegistryExportIssue>* issues)
{
    std::vector<CRegistryExportFile> files;
    CRegistryExporter exporter(source, [] { Mica::PumpMessagesNowAndThen(); });
    CGleanAppLog& log = CGleanAppLog::Instance();
    // Each export goes into a new temporary file of its own: the configured
    // file name is only the archive name, so it never names a path.
    auto exportOne = [&](const std::wstring& keyPath, const std::wstring& fileName) {
        CExportFile file([&] { return Bas::CreateTempFile(folder, L"GRL", L"tmp"); });
        try {
            if (!exporter.Export(keyPath, file))
                return false;
            file.Close();
        } catch (...) {
            // A quit or a failed write leaves no part of an export behind.
            if (!file.Abandon().empty())
                Bas::DeleteTempFile(file.Path());
            throw;
        }
        const std::wstring path = file.Path();
        if (!exporter.CutKey().empty())
            log.AddLine(Bas::Format(MSG_REGISTRY_TOO_DEEP, exporter.CutKey(),
                                    std::to_wstring(CRegistryExporter::kMaxDepth)));
        files.push_back({path, fileName, keyPath});
        return true;
    };
    // What went wrong with a request: its line, and its error for the run's
    // account.
    const auto fail = [&](const std::wstring& keyPath, const std::wstring& fileName, const std::wstring& line,
                          std::shared_ptr<const Bas::CException> error) {
        log.AddLine(line);
        if (issues != nullptr)
            issues->push_back({keyPath, fileName, std::move(error)});
    };
    const auto exportRequest = [&](const std::wstring& keyPath, const std::wstring& fileName) {
        // A whole root in a support archive is never what a settings author
        // means, and it would take very long.
        if (SplitKeyPath(keyPath).second.empty()) {
            fail(keyPath, fileName, Bas::Format(MSG_REGISTRY_ROOT_NOT_EXPORTED, keyPath),
                 std::make_shared<Bas::CCheckException>(MSG_REGISTRY_ROOT_LEFT_OUT, keyPath));
            return;
        }
        bool any = false;
        if (keyPath.find(L'*') == std::wstring::npos) {
            any = exportOne(keyPath, fileName);
        } else {
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
        }
        if (!any)
            fail(keyPath, fileName, Bas::Format(MSG_KEY_NOT_FOUND, keyPath),
                 std::make_shared<Bas::CCheckException>(MSG_REGISTRY_KEY_MISSING, keyPath));
    };
    for (const auto& [keyPath, fileName] : requests) {
        // What the registry holds may drive an allocation too large: that
        // request fails with the out-of-memory error, the others go on; so
        // does one whose file fails.
        try {
            exportRequest(keyPath, fileName);
        } catch (const std::bad_alloc&) {
            fail(keyPath, fileName,
                 Bas::Format(MSG_REGISTRY_EXPORT_FAILED, keyPath, Bas::CMemoryException().GetMessageText()),
                 std::make_shared<Bas::CMemoryException>());
        } catch (Bas::CUserException*) {
            throw;
        } catch (Bas::CException* raw) {
            // A temporary file that cannot be made or written fails its
            // request alone, as any item of the run.
            std::shared_ptr<const Bas::CException> error = Bas::Own(raw);
            const std::wstring line = Bas::Format(MSG_REGISTRY_EXPORT_FAILED, keyPath, error->GetMessageText());
            fail(keyPath, fileName, line, std::move(error));
        }
    }
    return files;
}

} // namespace Glean
