// The key of a masked archive, from each stand-in to what it stands for:
// its name, its text, how a file is known to be one, and its writing into a
// file that only the current user and the system can open.
#pragma once

#include "WinApi.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Glean {

// Stand-in and original, in the mask's order.
using CPrivacyKeyPairs = std::vector<std::pair<std::wstring, std::wstring>>;

// The words a key's first line begins with, after the UTF-8 mark.
inline constexpr std::string_view kPrivacyKeyTitle = "Glean privacy key";
// The end of every name a key is saved under.
inline constexpr std::wstring_view kPrivacyKeySuffix = L"-privacy-key.txt";
// How many first bytes of a file IsPrivacyKey needs: the mark and the title.
inline constexpr std::size_t kPrivacyKeyProbeBytes = 3 + kPrivacyKeyTitle.size();

// True when the bytes, after an optional UTF-8 mark, begin with the title,
// or with a line of pairs ("user1<TAB>..."), as a key does whose title was
// cut off: the file is a key, whatever its name.
bool IsPrivacyKey(std::string_view firstBytes);

// The key of an archive, beside it: the archive's file name without its
// last extension, then "-privacy-key.txt" ("C:\Out\Case42.zip" gives
// "C:\Out\Case42-privacy-key.txt").
std::wstring PrivacyKeyPathFor(const std::wstring& archivePath);
// The name of a key kept apart from its archive, by the local time it was
// made: "Glean-yyyyMMdd-HHmmss-privacy-key.txt", and from number 2 on
// "Glean-yyyyMMdd-HHmmss-<number>-privacy-key.txt".
std::wstring DatedPrivacyKeyName(const SYSTEMTIME& time, unsigned number);
// The file's bytes: the UTF-8 mark, the title line naming the archive, then
// one "stand-in TAB original" line per pair, each ended by CR LF.
std::string PrivacyKeyText(const std::wstring& archiveName, const CPrivacyKeyPairs& pairs);

// Writes the key of the archive at PrivacyKeyPathFor(archivePath), replacing
// a key there once the new one is complete, and returns its path.
std::wstring SavePrivacyKeyBeside(const std::wstring& archivePath, const CPrivacyKeyPairs& pairs);
// Writes the key of an archive that goes elsewhere into the folder, under
// the first dated name made at `time` that no file has yet, and returns its
// path.
std::wstring SavePrivacyKeyInto(const std::wstring& folder, const std::wstring& archiveName,
                                const CPrivacyKeyPairs& pairs, const SYSTEMTIME& time);

} // namespace Glean
