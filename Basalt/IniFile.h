// Read access to a classic initialisation file, section by section and key
// by key; names compare without regard to case.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace Bas {

class CIniFile {
public:
    enum ELoad { MissingIsEmpty = 0, MustExist = 2 };

    // A relative path is taken from the program's folder.
    explicit CIniFile(const std::wstring& path, int loadMode = MissingIsEmpty);

    const std::wstring& Path() const noexcept { return m_path; }
    bool HasSection(const std::wstring& section) const;
    bool HasKey(const std::wstring& section, const std::wstring& key) const;
    // The default when the section or the key is missing; a key with an
    // empty value gives the empty string.
    std::wstring GetValue(const std::wstring& section, const std::wstring& key,
                          const std::wstring& defaultValue = {}) const;
    // In table order: it depends on the set of names alone, not on the file's
    // order.
    std::vector<std::wstring> SectionNames() const;
    std::vector<std::wstring> KeyNames(const std::wstring& section) const;

    // The case-folding string hash shared with the command line's table.
    static unsigned Hash(const std::wstring& name);
    // Names in the order of a hash table sized for them.
    static std::vector<std::wstring> TableOrder(std::vector<std::wstring> names);

private:
    struct CSection {
        std::wstring name;
        std::map<std::wstring, std::pair<std::wstring, std::wstring>> keys; // folded -> (name, value)
    };

    void load() const;
    const CSection* findSection(const std::wstring& name) const;

    std::wstring m_path;
    int m_loadMode;
    mutable bool m_loaded = false;
    mutable std::map<std::wstring, CSection> m_sections; // folded name -> section
};

} // namespace Bas
