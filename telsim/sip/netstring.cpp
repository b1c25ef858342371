#include "telsim/sip/netstring.h"

namespace telsim::sip {

std::string EncodeNetstring(std::string_view payload) {
    std::string out = std::to_string(payload.size());
    out.reserve(out.size() + payload.size() + 2);
    out += ':';
    out += payload;
    out += ',';
    return out;
}

std::size_t NetstringDecoder::Limit() const {
    // The longest prefix the limit allows, the colon, the frame and its comma.
    return std::to_string(maxFrame_).size() + maxFrame_ + 2;
}

NetstringDecoder::Status NetstringDecoder::Fail() {
    malformed_ = true;
    buffer_.clear();
    buffer_.shrink_to_fit();
    return Status::Malformed;
}

bool NetstringDecoder::Feed(std::string_view bytes) {
    if (malformed_) {
        return false;
    }
    // Whatever Next leaves is one partial frame, shorter than the limit; a
    // caller that feeds without taking frames out is refused rather than
    // buffered without bound.
    if (buffer_.size() >= Limit()) {
        Fail();
        return false;
    }
    buffer_.append(bytes);
    return true;
}

NetstringDecoder::Status NetstringDecoder::Next(std::string& frame) {
    frame.clear();
    if (malformed_) {
        return Status::Malformed;
    }
    const std::size_t digitsMax = std::to_string(maxFrame_).size();
    std::size_t length = 0;
    std::size_t i = 0;
    for (; i < buffer_.size() && buffer_[i] != ':'; ++i) {
        const char c = buffer_[i];
        if (c < '0' || c > '9' || i >= digitsMax || (i == 1 && buffer_[0] == '0')) {
            return Fail();
        }
        length = length * 10 + static_cast<std::size_t>(c - '0');
        if (length > maxFrame_) {
            return Fail();
        }
    }
    if (i == buffer_.size()) {
        return Status::NeedMore;
    }
    if (i == 0) {
        return Fail();
    }
    const std::size_t body = i + 1;
    if (buffer_.size() < body + length + 1) {
        return Status::NeedMore;
    }
    if (buffer_[body + length] != ',') {
        return Fail();
    }
    frame.assign(buffer_, body, length);
    buffer_.erase(0, body + length + 1);
    return Status::Frame;
}

}  // namespace telsim::sip
