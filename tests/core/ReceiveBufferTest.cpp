#include "protocol/ReceiveBuffer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace std::string_literals;

TEST(ReceiveBufferFraming, MessageSplitOverThreeReceptionsCompletesOnce) {
    ReceiveBuffer buffer;
    auto first = buffer.Append("<commands><command ");
    EXPECT_TRUE(first.messages.empty());
    auto second = buffer.Append("type=\"PRQ\"/>");
    EXPECT_TRUE(second.messages.empty());
    EXPECT_EQ(buffer.Pending(), 31u);

    auto third = buffer.Append("</commands>\0"s);
    ASSERT_EQ(third.messages.size(), 1u);
    EXPECT_EQ(third.messages[0], "<commands><command type=\"PRQ\"/></commands>");
    EXPECT_EQ(buffer.Pending(), 0u);
}

TEST(ReceiveBufferFraming, EveryMessageOfOneReceptionIsTakenInOrderAndTheTailWaits) {
    ReceiveBuffer buffer;
    buffer.Append("<a");
    // The lone 0 between the second message and the tail is no message at all.
    auto result = buffer.Append("/>\0<b/>\0\0<c"s);
    ASSERT_EQ(result.messages.size(), 2u);
    EXPECT_EQ(result.messages[0], "<a/>");
    EXPECT_EQ(result.messages[1], "<b/>");
    EXPECT_EQ(buffer.Pending(), 2u);

    result = buffer.Append("/>\0"s);
    ASSERT_EQ(result.messages.size(), 1u);
    EXPECT_EQ(result.messages[0], "<c/>");
}

TEST(ReceiveBufferLimit, MessageFitsOnlyWithItsTerminator) {
    constexpr std::size_t kLimit = 8;
    ReceiveBuffer buffer(kLimit);
    auto result = buffer.Append("1234567\0"s + "12345678\0"s + "ok\0"s);
    EXPECT_EQ(result.refused, 1u);
    ASSERT_EQ(result.messages.size(), 2u);
    EXPECT_EQ(result.messages[0], "1234567");
    EXPECT_EQ(result.messages[1], "ok");
}

TEST(ReceiveBufferLimit, OversizeMessageOverSeveralReceptionsIsDroppedToItsEndAndTheNextIsRead) {
    ReceiveBuffer buffer(16);
    EXPECT_TRUE(buffer.Append("0123456789").messages.empty());
    auto refused = buffer.Append("0123456789");
    EXPECT_EQ(refused.refused, 1u);
    EXPECT_EQ(buffer.Pending(), 0u);
    // Still inside the refused message: nothing of it may surface as a message.
    auto tail = buffer.Append("more of it");
    EXPECT_TRUE(tail.messages.empty());
    EXPECT_EQ(tail.refused, 0u);

    auto after = buffer.Append("end\0<next/>\0"s);
    ASSERT_EQ(after.messages.size(), 1u);
    EXPECT_EQ(after.messages[0], "<next/>");
}

TEST(ReceiveBufferLimit, ClearForgetsUnfinishedAndRefusedMessages) {
    ReceiveBuffer buffer(4);
    buffer.Append("toolong");
    buffer.Clear();
    auto result = buffer.Append("ok\0"s);
    ASSERT_EQ(result.messages.size(), 1u);
    EXPECT_EQ(result.messages[0], "ok");

    buffer.Append("ab");
    buffer.Clear();
    EXPECT_EQ(buffer.Pending(), 0u);
    EXPECT_EQ(buffer.Append("c\0"s).messages.at(0), "c");
}

TEST(ReceiveBufferLimit, LargestMessageInBurstsArrivesIntact) {
    std::string message(ReceiveBuffer::kReceiveBufferLimit - 1, '\0');
    std::mt19937 random(7);
    for (char& c : message) {
        c = static_cast<char>('A' + random() % 26);
    }
    const std::string wire = message + '\0' + "<x/>" + '\0';

    ReceiveBuffer buffer;
    constexpr std::size_t kBurst = 400 * 1000;
    std::vector<std::string> received;
    for (std::size_t at = 0; at < wire.size(); at += kBurst) {
        auto result = buffer.Append(std::string_view(wire).substr(at, kBurst));
        EXPECT_EQ(result.refused, 0u);
        for (auto& m : result.messages) {
            received.push_back(std::move(m));
        }
    }
    ASSERT_EQ(received.size(), 2u);
    EXPECT_TRUE(received[0] == message);
    EXPECT_EQ(received[1], "<x/>");
}
