#include "telsim/sip/netstring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using telsim::sip::EncodeNetstring;
using telsim::sip::NetstringDecoder;
using Status = NetstringDecoder::Status;

namespace {

std::vector<std::string> Drain(NetstringDecoder& decoder) {
    std::vector<std::string> frames;
    std::string frame;
    while (decoder.Next(frame) == Status::Frame) {
        frames.push_back(frame);
    }
    return frames;
}

TEST(Netstring, FramesSurviveAnySplitOfTheStream) {
    const std::vector<std::string> sent{"{\"a\":1}", "", "3:x,y:,", std::string(1000, 'z')};
    std::string stream;
    for (const auto& frame : sent) {
        stream += EncodeNetstring(frame);
    }
    EXPECT_EQ("7:{\"a\":1},0:,", stream.substr(0, 13));
    for (const std::size_t piece : {std::size_t{1}, std::size_t{5}, stream.size()}) {
        NetstringDecoder decoder;
        std::vector<std::string> got;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            ASSERT_TRUE(decoder.Feed(stream.substr(at, piece)));
            for (auto& frame : Drain(decoder)) {
                got.push_back(frame);
            }
        }
        EXPECT_EQ(sent, got) << "pieces of " << piece;
    }
}

TEST(Netstring, MalformedInputFailsForGood) {
    for (const char* bad :
         {"01:a,", ":,", "1x:a,", "-1:a,", " 1:a,", "+1:a,", "3:abc;", "2:abc,", "1:a:"}) {
        NetstringDecoder decoder;
        ASSERT_TRUE(decoder.Feed(bad));
        std::string frame;
        EXPECT_EQ(Status::Malformed, decoder.Next(frame)) << bad;
        EXPECT_FALSE(decoder.Feed("1:a,")) << bad;
        EXPECT_EQ(Status::Malformed, decoder.Next(frame)) << bad;
        EXPECT_EQ("", frame);
    }
}

TEST(Netstring, OversizedFramesAreRefusedBeforeTheirBody) {
    NetstringDecoder decoder(16);
    std::string frame;
    ASSERT_TRUE(decoder.Feed("16:" + std::string(16, 'x') + ",17:"));
    EXPECT_EQ(Status::Frame, decoder.Next(frame));
    EXPECT_EQ(Status::Malformed, decoder.Next(frame));

    NetstringDecoder digits(16);
    ASSERT_TRUE(digits.Feed("100"));  // more digits than 16 has, colon not yet seen
    EXPECT_EQ(Status::Malformed, digits.Next(frame));
}

TEST(Netstring, FeedingWithoutTakingFramesIsRefused) {
    NetstringDecoder decoder(16);
    const std::string frame = EncodeNetstring(std::string(16, 'x'));
    ASSERT_TRUE(decoder.Feed(frame));
    EXPECT_FALSE(decoder.Feed(frame));
}

}  // namespace
