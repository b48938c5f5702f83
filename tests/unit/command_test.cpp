#include "commands/command.h"
#include "commands/command_reply.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

std::vector<uint8_t> SerializedBytes(CComand& command, int32_t* size) {
    void* block = nullptr;
    *size = command.Serialize(&block);
    EXPECT_NE(block, nullptr);
    std::vector<uint8_t> bytes(static_cast<uint8_t*>(block),
                               static_cast<uint8_t*>(block) + (*size > 0 ? *size : 0));
    std::free(block);
    return bytes;
}

}  // namespace

TEST(CommandSerialize, RequestBodiesAreTheCommandCodes) {
    int32_t size = 0;
    CVersionCommand version;
    EXPECT_EQ(SerializedBytes(version, &size), (std::vector<uint8_t>{0x05, 0x03, 0x00, 0x00}));
    EXPECT_EQ(size, 4);
    CCheckUpdateCommand check;
    EXPECT_EQ(SerializedBytes(check, &size), (std::vector<uint8_t>{0x00, 0x03, 0x00, 0x00}));
    EXPECT_EQ(size, 4);
}

TEST(CommandSerialize, ParametersDoNotReachTheWire) {
    CVersionCommand version;
    version.SetParameter(7, ParameterMap::NewIntegerBlock(99));
    int32_t size = 0;
    EXPECT_EQ(SerializedBytes(version, &size), (std::vector<uint8_t>{0x05, 0x03, 0x00, 0x00}));
}

// Ownership is checked by the sanitizers: a block that is not freed is a leak
// reported at exit, a block freed twice aborts the test.
TEST(ParameterMapOwnership, HolderFreesEveryNonNullBlock) {
    auto* command = new CCheckUpdateCommand;
    command->SetParameter(1, ParameterMap::NewIntegerBlock(0x300));
    command->SetParameter(2, nullptr);
    command->SetParameter(3, ParameterMap::NewTextBlock("a;2.0;x"));
    command->SetParameter(-4, nullptr);
    EXPECT_EQ(command->GetParameter(2), nullptr);
    EXPECT_STREQ(static_cast<const char*>(command->GetParameter(3)), "a;2.0;x");
    delete command;

    auto* reply = new CCommandReply;
    EXPECT_EQ(reply->m_valid, 0);
    reply->SetParameter(1, ParameterMap::NewIntegerBlock(5));
    reply->SetParameter(9, nullptr);
    reply->SetParameter(4, ParameterMap::NewTextBlock(""));
    delete reply;
}

TEST(ParameterMapOwnership, MissingKeyReadsAsNull) {
    CVersionCommand command;
    EXPECT_EQ(command.GetParameter(1), nullptr);
    command.SetParameter(1, ParameterMap::NewIntegerBlock(1));
    EXPECT_EQ(command.GetParameter(0), nullptr);
    EXPECT_EQ(command.GetParameter(2), nullptr);
}

TEST(ParameterMapOwnership, StoringAKeyAgainReleasesTheOldBlock) {
    ParameterMap map;
    void* first = ParameterMap::NewIntegerBlock(1);
    map.Set(5, first);
    map.Set(5, first);  // the same block again: kept, not freed
    EXPECT_EQ(map.Get(5), first);
    map.Set(5, ParameterMap::NewTextBlock("two"));
    EXPECT_STREQ(static_cast<const char*>(map.Get(5)), "two");
    map.Set(5, nullptr);
    EXPECT_EQ(map.Get(5), nullptr);
    EXPECT_EQ(map.Size(), 1u);
}
