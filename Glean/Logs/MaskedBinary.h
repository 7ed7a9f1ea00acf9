// Text inside binary data (registry values, event data) masked where it
// stands: runs of UTF-16LE or ANSI characters found among the bytes, and
// SIDs in their binary form, pass through the log filter one by one.
#pragma once

#include "TextStream.h"
#include "WinApi.h"

#include <functional>
#include <string>
#include <vector>

namespace Glean {

// What a piece of text becomes on its way into the archive.
using CTextFilter = std::function<std::wstring(const std::wstring&)>;

// The data with every text run of at least four characters masked: UTF-16LE
// runs of printable units (U+0020..U+007E, U+00A0..U+201F) at any byte
// position, and runs of printable ANSI bytes (0x20..0x7E, 0x80..0xFF) read
// in the code page. A run the filter changes is replaced by the masked text
// in the run's own encoding, so the data may grow or shrink; the bytes
// around the runs stay as they are. A SID the filter masks is replaced by a
// stand-in SID of the same length, so that structures holding it (security
// descriptors) keep their layout.
std::vector<BYTE> MaskBinary(const std::vector<BYTE>& data, const CTextFilter& filter, unsigned codePage = CP_ACP);
std::vector<BYTE> MaskBinary(const std::vector<BYTE>& data, Bas::ILogFilter& filter, unsigned codePage = CP_ACP);

// The SID that stands in for a user SID whose text the filter masked to
// "sid<k>-<rest>": S-1-5-21-0-0-<k>-<rest>, so that the same original
// gives the same SID and a reader still sees a domain account. Any other
// masked text gives the null SID S-1-0-0.
std::vector<BYTE> StandInSid(const std::wstring& masked);

} // namespace Glean
