// One e-mail message as the command line describes it.
#pragma once

#include <string>
#include <vector>

namespace Granite {

struct CMailAddress {
    std::wstring name;    // display name, may be empty
    std::wstring address;
};

struct CMailAttachment {
    std::wstring name;    // the file name shown (name and extension)
    std::wstring path;
};

struct CMailMessage {
    std::wstring subject;
    std::wstring body;
    std::vector<CMailAddress> recipients;
    std::vector<CMailAttachment> attachments;
};

// The file-name part (name and extension) of a path.

} // namespace Granite
