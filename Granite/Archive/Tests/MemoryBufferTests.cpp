#include "Errors.h"
#include "MemoryBuffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(MemoryBuffer, SizesStayWithinPagesAndCapacity)
{
    Granite::CMemoryBuffer buffer(0x40000);
    EXPECT_EQ(buffer.Capacity(), 0x40000u);
    EXPECT_EQ(buffer.CommittedSize(), 0u);
    buffer.SetSize(1);
    EXPECT_EQ(buffer.Size(), 1u);
    EXPECT_EQ(buffer.CommittedSize(), 4096u);
    buffer.SetSize(4097);
    EXPECT_EQ(buffer.CommittedSize(), 8192u);
    std::memset(buffer.Data(), 0xAB, buffer.CommittedSize());
    buffer.SetCommittedSize(100);
    EXPECT_EQ(buffer.CommittedSize(), 4096u);
    EXPECT_EQ(buffer.Size(), 4096u);
    EXPECT_EQ(buffer.Data()[4095], 0xAB);
    buffer.SetCommittedSize(buffer.Capacity());
    EXPECT_EQ(buffer.CommittedSize(), 0x40000u);
    std::memset(buffer.Data(), 0, buffer.Capacity());
    buffer.SetCommittedSize(0);
    EXPECT_EQ(buffer.Size(), 0u);
}

TEST(MemoryBuffer, BeyondTheCapacityIsAnInternalError)
{
    Granite::CMemoryBuffer buffer(4096);
    for (int which = 0; which < 2; ++which) {
        try {
            if (which == 0)
                buffer.SetSize(4097);
            else
                buffer.SetCommittedSize(4097);
            FAIL() << "no error";
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            EXPECT_NE(dynamic_cast<Bas::CInternalError*>(error.get()), nullptr);
        }
    }
}

} // namespace
