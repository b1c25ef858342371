// Netstring framing ("<decimal length>:<bytes>,"), the framing of the SIP
// agent's control connection in both directions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace telsim::sip {

std::string EncodeNetstring(std::string_view payload);

// Cuts frames out of a byte stream that arrives in pieces of any size. The
// peer is not trusted: a length prefix that is empty, has a leading zero,
// holds anything but digits or announces more than the limit, and a frame
// not closed by ',', make the decoder fail for good (the stream cannot be
// resynchronised). It never holds more than one frame's worth of bytes
// besides what the caller fed it last.
class NetstringDecoder {
public:
    enum class Status { Frame, NeedMore, Malformed };

    explicit NetstringDecoder(std::size_t maxFrame = 64 * 1024) : maxFrame_(maxFrame) {}

    // Appends received bytes; call Next until it stops answering Frame
    // before feeding more. False once the decoder is malformed, or when the
    // frames of earlier feeds were not taken out.
    bool Feed(std::string_view bytes);
    Status Next(std::string& frame);

private:
    Status Fail();
    std::size_t Limit() const;

    const std::size_t maxFrame_;
    std::string buffer_;
    bool malformed_ = false;
};

}  // namespace telsim::sip
