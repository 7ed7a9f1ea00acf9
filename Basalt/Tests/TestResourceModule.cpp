// A language resource module for the tests: its table and exports only.
#include "MessageTable.h"

namespace {

constexpr const wchar_t* kNames[] = {
#include "generated/TestResources.inc"
};

} // namespace

BAS_DEFINE_MESSAGE_TABLE(kNames)
