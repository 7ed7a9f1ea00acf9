// The tools library's message names.
#pragma once

#include "Message.h"

namespace Granite {

inline const Bas::CMessageName ERR_ZLIB_INIT_FAILED{L"ERR_ZLIB_INIT_FAILED"};
inline const Bas::CMessageName ERR_ZIP_TOO_MANY_ENTRIES{L"ERR_ZIP_TOO_MANY_ENTRIES"};
inline const Bas::CMessageName ERR_ZIP_NAME_TOO_LONG{L"ERR_ZIP_NAME_TOO_LONG"};
inline const Bas::CMessageName ERR_ZIP_ENTRY_TOO_LARGE{L"ERR_ZIP_ENTRY_TOO_LARGE"};
inline const Bas::CMessageName ERR_ZIP_ARCHIVE_DAMAGED{L"ERR_ZIP_ARCHIVE_DAMAGED"};
inline const Bas::CMessageName MSG_ZIP_CUT_SHORT{L"MSG_ZIP_CUT_SHORT"};
inline const Bas::CMessageName MSG_ZIP_DATA_DIFFERS{L"MSG_ZIP_DATA_DIFFERS"};
inline const Bas::CMessageName MSG_ZIP_DIRECTORY_DIFFERS{L"MSG_ZIP_DIRECTORY_DIFFERS"};
inline const Bas::CMessageName MSG_ZIP_LOCAL_HEADER_DIFFERS{L"MSG_ZIP_LOCAL_HEADER_DIFFERS"};
inline const Bas::CMessageName ERR_ZIP_ARCHIVE_TOO_LARGE{L"ERR_ZIP_ARCHIVE_TOO_LARGE"};
inline const Bas::CMessageName ERR_ZIP_UNSAFE_NAME{L"ERR_ZIP_UNSAFE_NAME"};
inline const Bas::CMessageName ERR_ZIP_DUPLICATE_NAME{L"ERR_ZIP_DUPLICATE_NAME"};

} // namespace Granite
