// The test-only Arabic language module.
#include "MessageTable.h"

namespace {

constexpr const wchar_t* kNames[] = {
#include "generated/Glean61Messages.inc"
};

} // namespace

BAS_DEFINE_MESSAGE_TABLE(kNames)
