// Personal data replaced by stand-ins on its way into the archive: the names
// of the user, the computer, their domains and the registered organisation,
// the user's SID, addresses, secrets and the words a company lists. The same
// original always gets the same stand-in ("user1", "host1", "ip2", ...)
// within a run, and the key from stand-ins to originals stays at home. Every
// log passes through it as the log filter; collected text files are copied
// through it, on several threads at once.
#pragma once

#include "Lock.h"
#include "TextStream.h"

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Glean {

class CPrivacyMask : public Bas::ILogFilter {
public:
    enum EKind { User, Host, Domain, Ip, Mac, Mail, Word, Secret, Sid, Org, KindCount };

    struct CConfig {
        // Replaced as whole words (between characters that are no letters or
        // digits), without regard to case. Well-known account and folder
        // names (SYSTEM, Users, Public, TEMP, ...) are left out.
        std::vector<std::wstring> users; // user names and profile folder names
        std::vector<std::wstring> hosts;
        std::vector<std::wstring> domains;
        std::vector<std::wstring> organizations;
        // Replaced wherever they occur, without regard to case, but never
        // inside a run of 16 or more hex digits unless as the whole run.
        // Secrets shorter than four characters only as a whole token.
        std::vector<std::wstring> words;
        std::vector<std::wstring> secrets;
        // The user's SIDs: of "S-1-5-21-a-b-c-r" the part before the RID is
        // replaced, of any other the whole SID, wherever no digit follows;
        // well-known SIDs (S-1-5-18, ...) are left.
        std::vector<std::wstring> sids;
        // The address the archive is sent to stays.
        std::wstring keptMail;
    };

    // What FilterKnown found without a stand-in: the original as the key
    // lists it (as found in the text; a secret or word found in its
    // registry-export form, with "\\" and "\"", as it is without them).
    struct COriginal {
        EKind kind;
        std::wstring text;
    };
    // The originals FilterKnown found without a stand-in over the texts of
    // one file, each once, in order of first appearance; the keys are kept
    // with them, so that a file full of new addresses is not read back
    // over them at every text.
    struct CNovel {
        std::vector<COriginal> originals;
        std::set<std::wstring> keys;
    };

    explicit CPrivacyMask(const CConfig& config);

    // The text with every original replaced by its stand-in; line breaks
    // and everything else stay as they are. A version in brackets that looks
    // like an IPv4 address stays only in the module-version rows of the main
    // log ("name\t[1.2.3.4]" as a whole line).
    std::wstring Filter(const std::wstring& text, EForm form) override;
    using Bas::ILogFilter::Filter;
    // As Filter, but gives no new stand-in: every original without a
    // stand-in yet that `novel` does not hold is appended to it, in order of
    // first appearance. The result is not to be used when an original had no
    // stand-in (`novel` grew, or it held that original already).
    std::wstring FilterKnown(const std::wstring& text, EForm form, CNovel& novel) const;
    // Gives stand-ins to originals in their order, skipping those that have
    // one: the numbering Filter would have given them at that point.
    void Register(const std::vector<COriginal>& originals);
    std::wstring SecretStandIn(const std::wstring& original) override;

    // Whether no original the mask looks for by name or word holds the
    // character: a text may be cut after it without cutting one in two.
    bool CanCutAfter(wchar_t c) const;
    // The last position at or before `at` that no original found in the
    // text lies across: the text cut there, each part masked on its own
    // hides all that the whole text masked would.
    std::size_t SafeCut(const std::wstring& text, std::size_t at) const override;

    // The stand-ins given so far, each with what it stands for.
    std::vector<std::pair<std::wstring, std::wstring>> Key() const;
    // How many stand-ins of each kind were given.
    std::array<unsigned, KindCount> Counts() const;
    // "user", "host", ...
    static const wchar_t* KindName(EKind kind);

private:
    struct CLiteral {
        std::wstring key; // the kind and the original lower-cased
        EKind kind;
        bool wholeWord;
        bool escaped; // the form a registry export writes
        // Of enough hex digits never to turn up inside a digest by chance.
        bool longHex;
    };
    // A trie over the lower-cased literals.
    struct CNode {
        std::vector<std::pair<wchar_t, std::uint32_t>> next; // sorted
        std::vector<std::uint32_t> ends;                     // literals ending here, the first wins
    };
    struct CMatch {
        std::size_t at;
        std::size_t length;
        EKind kind;
        const CLiteral* literal; // null for addresses
    };
    // Every original of one text, left to right, with the key of each in
    // the stand-in map; pure, so no lock.
    class CScan;
    std::vector<CMatch> scan(const std::wstring& text, EForm form, std::vector<std::wstring>& keys) const;
    // The original as the key lists it.
    static std::wstring originalOf(const CMatch& match, std::wstring_view text);
    void addLiteral(const std::wstring& form, const std::wstring& key, EKind kind, bool wholeWord, bool escaped);
    // The stand-in of a key, given now if it has none; with the lock held.
    const std::wstring& standIn(EKind kind, std::wstring key, const std::wstring& original);

    std::vector<CLiteral> m_literals; // in the order of precedence at equal length
    std::vector<CNode> m_nodes;       // the root first
    std::vector<wchar_t> m_characters; // of all literals, sorted
    std::wstring m_keptMail;
    mutable Bas::CLock m_lock;
    std::map<std::wstring, std::wstring> m_standIns; // by key
    std::vector<std::pair<std::wstring, std::wstring>> m_key;
    std::array<unsigned, KindCount> m_counts = {};
};

// The names of this computer's user (with the profile folder's long and
// short names and the registered owner), the computer, their domains and the
// registered organisation, the user's SID (as the system and the environment
// give them), the values of the environment variables whose names speak of
// secrets (PASSWORD, PASSWD, SECRET, TOKEN, KEY), with the words and the
// recipient's address of the settings.
CPrivacyMask::CConfig PrivateNamesOfThisComputer(const std::vector<std::wstring>& words, const std::wstring& keptMail);

} // namespace Glean
