// Collected files copied through the privacy mask in their own encoding.
#pragma once

#include "PrivacyMask.h"

#include <functional>
#include <string>

namespace Glean {

// Copies a collected file through the mask when it is text: UTF-8 (with or
// without its mark), UTF-16 with a byte-order mark, or the ANSI code page;
// text when its first 64 KiB hold no zero byte (but for UTF-16). It is read
// in blocks, whatever its size, and written in its own encoding. False,
// with nothing written, for a binary file.
bool MaskTextFile(CPrivacyMask& mask, const std::wstring& source, const std::wstring& target,
                  const std::function<void()>& step = {});

} // namespace Glean
