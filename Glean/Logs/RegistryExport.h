// Registry keys exported as registry-editor files ("Windows Registry Editor
// Version 5.00"), values first, then subkeys depth first. The formatter reads
// through IRegistrySource, so it can be tried without a registry, and hands
// each line on as it is made, so an export of any size is never held whole.
#pragma once

#include "NativeFileSystem.h"
#include "Errors.h"
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
    // Opens a key found by listing its parent. A registry link is opened as
    // itself (its one value "SymbolicLinkValue" of type REG_LINK, no
    // subkeys), so that a link to an ancestor is not followed.
    virtual std::unique_ptr<IRegistryKeySource> OpenSubkey(HKEY root, const std::wstring& path)
    {
        return Open(root, path);
    }
};

// The registry in the program's default view (the 32-bit one under WOW64).
// The key a request names is opened as Windows resolves its path, a link
// followed to its key; the keys listed below it are opened with
// REG_OPTION_OPEN_LINK, a link as itself.
class CWindowsRegistrySource : public IRegistrySource {
public:
    std::unique_ptr<IRegistryKeySource> Open(HKEY root, const std::wstring& path) override;
    std::unique_ptr<IRegistryKeySource> OpenSubkey(HKEY root, const std::wstring& path) override;
};

// Where an export's lines go, one at a time as they are made. A line may
// hold CR LF of its own (an expand string's continuation lines).
class ILineSink {
public:
    virtual ~ILineSink() = default;
    virtual void AddLine(std::wstring line) = 0;
};

class CRegistryExporter {
public:
    // Levels of keys below the exported one that are listed. The registry
    // itself nests at most 512 levels deep, so only a source that loops
    // reaches the bound.
    static constexpr std::size_t kMaxDepth = 512;

    // `progress` is called for every key and value; what it throws ends the
    // export.
    explicit CRegistryExporter(IRegistrySource& source, Bas::CProgress progress = {})
        : m_source(source), m_progress(std::move(progress))
    {
    }

    // Hands the lines of the export of a key path ("HKEY_...\sub\key") to
    // the sink; false, with no line handed on, when the key cannot be
    // opened. With a log filter set, each piece is masked on its own (key
    // paths, value names, string data, the text inside hex(2), hex(6),
    // hex(7) and binary data), and values named like secrets (PASSWORD,
    // PASSWD, SECRET, TOKEN, CREDENTIAL) keep only a stand-in. A registry
    // link below the key is written as its "SymbolicLinkValue" (hex(6), as
    // the registry editor writes REG_LINK), never followed.
    bool Export(const std::wstring& keyPath, ILineSink& sink);
    // Export's lines, collected; false, with `lines` untouched, when the
    // key cannot be opened.
    bool BuildLines(const std::wstring& keyPath, std::vector<std::wstring>& lines);
    // Writes the export into filePath as it is made, its lines masked
    // already; false, with no file made, when the key cannot be opened.
    bool ExportKey(const std::wstring& keyPath, const std::wstring& filePath);
    // The first key of the last export whose subkeys lay past kMaxDepth and
    // were left out; empty when none did.
    const std::wstring& CutKey() const noexcept { return m_cutKey; }

    // The root of a key path's first component (HKEY_CURRENT_USER for an
    // unknown one).
    static HKEY RootKey(const std::wstring& name);
    // Escapes "\" and then double quotes.
    static std::wstring Escape(const std::wstring& text);

private:
    // Writes the key at m_path (opened as `key`, null when it cannot be)
    // and the keys below it.
    void exportKey(HKEY root, std::unique_ptr<IRegistryKeySource> key, std::size_t depth);
    void exportValue(const Bas::CRegistryKey::CValue& value);
    void add(std::wstring line);
    // An expand string's hex(2) line, broken where the registry editor
    // breaks it (a counter starting at the name's length).
    void addExpand(std::wstring line, std::size_t nameLength, const std::wstring& text);
    // Bytes as hex: upper case on one line, or as a multi-string's hex(7)
    // lines of at most 80 characters.
    void addHex(std::wstring line, const std::vector<BYTE>& data, bool multi);
    std::wstring mask(const std::wstring& text) const;

    void progress() const;

    IRegistrySource& m_source;
    Bas::CProgress m_progress;
    Bas::ILogFilter* m_filter = nullptr;
    ILineSink* m_sink = nullptr;
    std::wstring m_rootName;
    // The path of the key being written, below the root: one string grown
    // and cut back as the export goes down and up.
    std::wstring m_path;
    std::wstring m_cutKey;
};

struct CRegistryExportFile {
    std::wstring path;
    std::wstring archiveName;
    std::wstring keyPath; // the key it holds
};

// A request that gave no export, with its error.
struct CRegistryExportIssue {
    std::wstring keyPath;
    std::wstring fileName;
    std::shared_ptr<const Bas::CException> error;
};

// The per-request driver: each (key path, file name) of the settings, a "*"
// standing for 1 to 99. Every export is written into a new "GRL" temporary
// file in the folder as it is made and keeps the file name as its archive
// name, masked as Export masks it when a log filter is set; missing keys,
// paths naming a whole root and keys cut at the depth bound become
// application-log lines. The window's messages are pumped now and then; a
// quit ends the exports with CUserException, and a failed export leaves no
// file. `issues`, when given, gets each request that gave no export.
std::vector<CRegistryExportFile> ExportAll(IRegistrySource& source,
                                           const std::vector<std::pair<std::wstring, std::wstring>>& requests,
                                           const std::wstring& folder, std::vector<CRegistryExportIssue>* issues = nullptr);

} // namespace Glean
