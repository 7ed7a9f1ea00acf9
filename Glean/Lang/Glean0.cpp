// The English language module: the texts of the foundation and tools
// libraries and those of Glean's dialog, mail and settings error.
#include "MessageTable.h"

namespace {

constexpr const wchar_t* kNames[] = {
#include "generated/Glean0Messages.inc"
};

} // namespace

BAS_DEFINE_MESSAGE_TABLE(kNames)
