#include "IniFile.h"

#include "BasaltMessages.h"
#include "Errors.h"
#include "File.h"
#include "NativeFileSystem.h"
#include "TextStream.h"
#include "TextTools.h"

#include <algorithm>
#include <cwctype>

namespace Bas {

namespace {

std::wstring Fold(const std::wstring& name)
{
    std::wstring folded = name;
    for (wchar_t& c : folded)
        c = static_cast<wchar_t>(std::towlower(c));
    return folded;
}

// The prime slot counts the tables grow through.
constexpr unsigned kPrimes[] = {17, 37, 79, 163, 331, 673, 1361, 2729, 5471, 10949, 21911, 43853, 87719, 175447};

} // namespace

CIniFile::CIniFile(const std::wstring& path, int loadMode) : m_loadMode(loadMode)
{
    m_path = IsRelativePath(path) ? JoinPath(FolderOf(GetModulePath()), path) : path;
}

unsigned CIniFile::Hash(const std::wstring& name)
{
    unsigned hash = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned folded = static_cast<unsigned>(std::towlower(name[i]));
        hash = i == 0 ? folded : hash * 33u + folded;
    }
    return hash;
}

std::vector<std::wstring> CIniFile::TableOrder(std::vector<std::wstring> names)
{
    unsigned slots = kPrimes[0];
    for (unsigned prime : kPrimes) {
        slots = prime;
        if (names.size() * 2 <= prime)
            break;
    }
    std::sort(names.begin(), names.end(), [slots](const std::wstring& a, const std::wstring& b) {
        const unsigned slotA = Hash(a) % slots;
        const unsigned slotB = Hash(b) % slots;
        if (slotA != slotB)
            return slotA < slotB;
        return Fold(a) < Fold(b);
    });
    return names;
}

void CIniFile::load() const
{
    if (m_loaded)
        return;
    m_loaded = true;
    if (m_loadMode != MustExist && !FileExists(m_path))
        return;
    CTextFile file;
    file.Open(m_path, CTextFile::ModeRead, CP_ACP);
    // A header only names the current section; the section comes into being
    // with its first key, so a header without keys is no section at all.
    CSection* current = nullptr;
    std::wstring currentName;
    std::wstring raw;
    for (int index = 0; file.ReadTextLine(raw); ++index) {
        const std::wstring line = Trim(raw);
        if (line.empty() || line[0] == L';' || (line.size() >= 2 && line[0] == L'/' && line[1] == L'/'))
            continue;
        const std::size_t close = line.rfind(L']');
        if (line[0] == L'[' && close != std::wstring::npos) {
            currentName = Trim(line.substr(1, close - 1));
            current = nullptr;
            continue;
        }
        const std::size_t equals = line.find(L'=');
        if (equals == std::wstring::npos)
            ThrowCheck(ERR_BAD_INI_FILE, m_path, std::to_wstring(index));
        if (current == nullptr) {
            auto [it, added] = m_sections.try_emplace(Fold(currentName));
            if (added)
                it->second.name = currentName;
            current = &it->second;
        }
        const std::wstring key = Trim(line.substr(0, equals));
        current->keys[Fold(key)] = {key, Trim(line.substr(equals + 1))};
    }
}

const CIniFile::CSection* CIniFile::findSection(const std::wstring& name) const
{
    load();
    const auto it = m_sections.find(Fold(name));
    return it == m_sections.end() ? nullptr : &it->second;
}

bool CIniFile::HasSection(const std::wstring& section) const
{
    return findSection(section) != nullptr;
}

bool CIniFile::HasKey(const std::wstring& section, const std::wstring& key) const
{
    const CSection* found = findSection(section);
    return found != nullptr && found->keys.count(Fold(key)) != 0;
}

std::wstring CIniFile::GetValue(const std::wstring& section, const std::wstring& key,
                                const std::wstring& defaultValue) const
{
    const CSection* found = findSection(section);
    if (found == nullptr)
        return defaultValue;
    const auto it = found->keys.find(Fold(key));
    return it == found->keys.end() ? defaultValue : it->second.second;
}

std::vector<std::wstring> CIniFile::SectionNames() const
{
    load();
    std::vector<std::wstring> names;
    for (const auto& [folded, section] : m_sections)
        names.push_back(section.name);
    return TableOrder(std::move(names));
}

std::vector<std::wstring> CIniFile::KeyNames(const std::wstring& section) const
{
    const CSection* found = findSection(section);
    std::vector<std::wstring> names;
    if (found != nullptr)
        for (const auto& [folded, entry] : found->keys)
            names.push_back(entry.first);
    return TableOrder(std::move(names));
}

} // namespace Bas
