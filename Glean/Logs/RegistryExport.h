// Registry keys exported as registry-editor files ("Windows Registry Editor
// Version 5.00"), values first, then subkeys depth first. The formatter reads
// through IRegistrySource, so it can be tried without a registry.
#pragma once

#include "RegistryKey.h"
#include "TextStream.h"
#include "WinApi.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Glean {

// One open key.
class IRegistryKeySource {
public:
    virtual ~IRegistryKeySource() = default;
    // Every value with its type and raw data, in index order.
    virtual std::vector<Bas::CRegistryKey::CValue> Values() = 0;
    virtual std::vector<std::wstring> SubkeyNames() = 0;
};

class IRegistrySource {
public:
    virtual ~IRegistrySource() = default;
    // Opens root\path for reading; null when it cannot be opened.
    virtual std::unique_ptr<IRegistryKeySource> Open(HKEY root, const std::wstring& path) = 0;
};

// The registry in the program's default view (the 32-bit one under WOW64).
class CWindowsRegistrySource : public IRegistrySource {
public:
    std::unique_ptr<IRegistryKeySource> Open(HKEY root, const std::wstring& path) override;
};

class CRegistryExporter {
public:
    explicit CRegistryExporter(IRegistrySource& source) : m_source(source) {}

    // The lines of the export of a key path ("HKEY_...\sub\key"); false when
    // the key cannot be opened. With a log filter set, each piece is masked
    // on its own (key paths, value names, string data, the text inside
    // hex(2), hex(7) and binary data), and values named like secrets
    // (PASSWORD, PASSWD, SECRET, TOKEN, CREDENTIAL) keep only a stand-in.
    bool BuildLines(const std::wstring& keyPath, std::vector<std::wstring>& lines);
    // Writes the export into filePath, its lines masked already; false, with
    // nothing written, when the key cannot be opened.
    bool ExportKey(const std::wstring& keyPath, const std::wstring& filePath);

    // The root of a key path's first component (HKEY_CURRENT_USER for an
    // unknown one).
    static HKEY RootKey(const std::wstring& name);
    // Escapes "\" and then double quotes.
    static std::wstring Escape(const std::wstring& text);

private:
    void exportKey(HKEY root, const std::wstring& path);
    void exportValue(const Bas::CRegistryKey::CValue& value);
    void add(std::wstring line);
    // An expand string's hex(2) line, broken where the registry editor
    // breaks it (a counter starting at the name's length).
    void addExpand(std::wstring line, std::size_t nameLength, const std::wstring& text);
    // Bytes as hex: upper case on one line, or as a multi-string's hex(7)
    // lines of at most 80 characters.
    void addHex(std::wstring line, const std::vector<BYTE>& data, bool multi);
    std::wstring mask(const std::wstring& text) const;

    IRegistrySource& m_source;
    Bas::ILogFilter* m_filter = nullptr;
    std::wstring m_rootName;
    std::vector<std::wstring> m_lines;
};

struct CRegistryExportFile {
    std::wstring path;
    std::wstring archiveName;
};

// The per-request driver: each (key path, file name) of the settings, a "*"
// standing for 1 to 99. Every export is written into a new "GRL" temporary
// file in the folder and keeps the file name as its archive name, masked
// as BuildLines masks it when a log filter is set; missing keys, and paths
// naming a whole root, become application-log lines.
std::vector<CRegistryExportFile> ExportAll(IRegistrySource& source,
                                           const std::vector<std::pair<std::wstring, std::wstring>>& requests,
                                           const std::wstring& folder);

} // namespace Glean
