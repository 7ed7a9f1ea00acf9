// Text inside binary data (registry values, event data) masked where it
// stands: runs of UTF-16LE or ANSI characters found among the bytes pass
// through the log filter one by one.
#pragma once

#include "TextStream.h"
#include "WinApi.h"

#include <vector>

namespace Glean {

// The data with every text run of at least four characters masked: UTF-16LE
// runs of printable units (U+0020..U+007E, U+00A0..U+201F) at any byte
// position, and runs of printable ANSI bytes (0x20..0x7E, 0x80..0xFF) read
// in the code page. A run the filter changes is replaced by the masked text
// in the run's own encoding, so the data may grow or shrink; the bytes
// around the runs stay as they are.
std::vector<BYTE> MaskBinary(const std::vector<BYTE>& data, Bas::ILogFilter& filter, unsigned codePage = CP_ACP);

} // namespace Glean
