// Personal data replaced by stand-ins on its way into the archive: the names
// of the user, the computer and their domains, addresses, secrets and the
// words a company lists. The same original always gets the same stand-in
// ("user1", "host1", "ip2", ...) within a run, and the key from stand-ins to
// originals stays at home. Every log passes through it as the log filter;
// collected text files are copied through it.
#pragma once

#include "Lock.h"
#include "TextStream.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Glean {

class CPrivacyMask : public Bas::ILogFilter {
public:
    enum EKind { User, Host, Domain, Ip, Mac, Mail, Word, Secret, KindCount };

    struct CConfig {
        // Replaced as whole words, without regard to case.
        std::vector<std::wstring> users; // user names and profile folder names
        std::vector<std::wstring> hosts;
        std::vector<std::wstring> domains;
        // Replaced wherever they occur, without regard to case.
        std::vector<std::wstring> words;
        std::vector<std::wstring> secrets;
        // The address the archive is sent to stays.
        std::wstring keptMail;
    };

    explicit CPrivacyMask(const CConfig& config);

    // The text with every original replaced by its stand-in; line breaks
    // and everything else stay as they are.
    std::wstring Filter(const std::wstring& text, EForm form) override;
    using Bas::ILogFilter::Filter;
    std::wstring SecretStandIn(const std::wstring& original) override;

    struct COriginal {
        EKind kind;
        std::wstring text;
    };
    std::wstring FilterKnown(const std::wstring& text, EForm form, std::vector<COriginal>& novel);
    void Register(const std::vector<COriginal>& originals);
    bool CanCutAfter(wchar_t c) const;

    // The stand-ins given so far, each with what it stands for.
    std::vector<std::pair<std::wstring, std::wstring>> Key() const;
    // How many stand-ins of each kind were given.
    std::array<unsigned, KindCount> Counts() const;
    // "user", "host", ...
    static const wchar_t* KindName(EKind kind);

private:
    struct CLiteral {
        std::wstring lower;
        EKind kind;
        bool wholeWord;
    };
    // The length of what is found at `at`, with its kind; 0 when nothing.
    std::size_t match(const std::wstring& text, const std::wstring& lower, std::size_t at, EKind& kind) const;
    const std::wstring& standIn(EKind kind, const std::wstring& original);

    std::vector<CLiteral> m_literals; // longest first
    std::wstring m_keptMail;
    mutable Bas::CLock m_lock;
    std::map<std::pair<int, std::wstring>, std::wstring> m_standIns;
    std::vector<std::pair<std::wstring, std::wstring>> m_key;
    std::array<unsigned, KindCount> m_counts = {};
};

// The names of this computer's user, the computer and their domains (as the
// system and the environment give them), the values of the environment
// variables whose names speak of secrets (PASSWORD, PASSWD, SECRET, TOKEN,
// KEY), with the words and the recipient's address of the settings.
CPrivacyMask::CConfig PrivateNamesOfThisComputer(const std::vector<std::wstring>& words, const std::wstring& keptMail);

} // namespace Glean
