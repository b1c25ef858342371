#include "telsim/modem/hayes_session.h"

#include "telsim/translation.h"
#include "telsim/utf8.h"

namespace telsim::modem {
namespace {

Outcome OutcomeOf(ResultCode code) {
    switch (code) {
    case ResultCode::Connect:
        return Outcome::Connected;
    case ResultCode::Busy:
        return Outcome::Busy;
    case ResultCode::NoCarrier:
        return Outcome::NoCarrier;
    case ResultCode::NoAnswer:
        return Outcome::NoAnswer;
    case ResultCode::NoDialtone:
        return Outcome::NoDialtone;
    default:
        return Outcome::Error;
    }
}

// A configuration made in code skips the scenario's checks: a command with
// a control character in it would run more than the one command.
bool IsOneCommand(const std::string& command) {
    for (char c : command) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return false;
        }
    }
    return true;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Connected:
        return "connected";
    case Outcome::Busy:
        return "busy";
    case Outcome::NoCarrier:
        return "no carrier";
    case Outcome::NoAnswer:
        return "no answer";
    case Outcome::NoDialtone:
        return "no dial tone";
    case Outcome::Error:
        return "modem error";
    case Outcome::Timeout:
        return "timeout";
    case Outcome::PortFailure:
        return "port failure";
    case Outcome::HungUp:
        return "hung up";
    }
    return "?";
}

HayesSession::HayesSession(ModemConfig config, const std::atomic<bool>& abort)
    : config_(std::move(config)), abort_(abort) {}

HRESULT HayesSession::Open() noexcept {
    const HRESULT hr = port_.Open(config_.Device(), config_.baud, config_.readSliceMs);
    if (FAILED(hr)) {
        char text[64];
        wsprintfA(text, "open failed 0x%08lX", static_cast<unsigned long>(hr));
        Note("!! ", text);
    }
    return hr;
}

void HayesSession::Note(const char* direction, std::string_view text) {
    std::lock_guard lock(transcriptMu_);
    transcript_ += direction;
    transcript_ += text;
    transcript_ += '\n';
}

std::string HayesSession::Transcript() const {
    std::lock_guard lock(transcriptMu_);
    return transcript_;
}

void HayesSession::Pause(DWORD ms) {
    // Guard times must be silence on the line, so this does not read.
    Sleep(ms);
}

HRESULT HayesSession::Send(std::string_view text) {
    Note(">> ", text.substr(0, text.find('\r')));
    return port_.Write(text);
}

HayesSession::Reply HayesSession::AwaitResult(DWORD timeoutMs, bool honourAbort) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    Reply reply;
    for (;;) {
        std::size_t end;
        while ((end = pending_.find_first_of("\r\n")) != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (line.empty()) {
                continue;
            }
            Note("<< ", line);
            if (const auto code = ParseResultLine(line); code && *code != ResultCode::Ring) {
                reply.wait = Wait::Result;
                reply.code = *code;
                reply.line = std::move(line);
                return reply;
            }
        }
        if (honourAbort && abort_.load()) {
            reply.wait = Wait::Aborted;
            return reply;
        }
        if (GetTickCount64() >= deadline) {
            reply.wait = Wait::Timeout;
            return reply;
        }
        if (FAILED(port_.ReadSome(pending_))) {
            reply.wait = Wait::PortFailure;
            return reply;
        }
        // Data-mode traffic without line ends must not grow without bound.
        if (pending_.size() > 4096) {
            pending_.erase(0, pending_.size() - 256);
        }
    }
}

HayesSession::Reply HayesSession::Command(std::string_view command, DWORD timeoutMs,
                                          bool honourAbort) {
    if (FAILED(Send(std::string(command) + "\r"))) {
        Reply reply;
        reply.wait = Wait::PortFailure;
        return reply;
    }
    return AwaitResult(timeoutMs, honourAbort);
}

Outcome HayesSession::Initialise() {
    if (!IsOneCommand(config_.dialCommand)) {
        return Outcome::Error;
    }
    for (const auto& command : config_.init) {
        if (!IsOneCommand(command)) {
            return Outcome::Error;
        }
    }
    for (const auto& command : config_.init) {
        const Reply reply = Command(command, config_.commandTimeoutMs);
        switch (reply.wait) {
        case Wait::Result:
            if (reply.code != ResultCode::Ok) {
                return Outcome::Error;
            }
            if (config_.commandGapMs) {
                Pause(config_.commandGapMs);
            }
            break;
        case Wait::Timeout:
            return Outcome::Timeout;
        case Wait::Aborted:
            return Outcome::HungUp;
        case Wait::PortFailure:
            return Outcome::PortFailure;
        }
    }
    return Outcome::Connected;
}

Outcome HayesSession::Dial(std::string_view dialable) {
    std::wstring wide(dialable.begin(), dialable.end());
    dialLine_ = config_.dialCommand + Utf8(DialableCharacters(wide)) + (config_.voice ? ";" : "");
    const Reply reply = Command(dialLine_, config_.answerTimeoutMs);
    switch (reply.wait) {
    case Wait::Result:
        if (config_.voice && reply.code == ResultCode::Ok) {
            return Outcome::Connected;
        }
        return reply.code == ResultCode::Ok ? Outcome::Error : OutcomeOf(reply.code);
    case Wait::Aborted: {
        // Any character ends a dial in progress; the modem answers with a
        // final result that must be read before the next command.
        if (SUCCEEDED(Send("\r"))) {
            AwaitResult(config_.commandTimeoutMs, false);
        }
        return Outcome::HungUp;
    }
    case Wait::Timeout:
        if (SUCCEEDED(Send("\r"))) {
            AwaitResult(config_.commandTimeoutMs, false);
        }
        return Outcome::Timeout;
    case Wait::PortFailure:
        return Outcome::PortFailure;
    }
    return Outcome::Error;
}

Outcome HayesSession::WaitWhileConnected() {
    for (;;) {
        const Reply reply = AwaitResult(60000);
        if (reply.wait == Wait::Aborted) {
            return Outcome::HungUp;
        }
        if (reply.wait == Wait::PortFailure) {
            return Outcome::PortFailure;
        }
        if (reply.wait == Wait::Result &&
            (reply.code == ResultCode::NoCarrier || reply.code == ResultCode::Error)) {
            return Outcome::NoCarrier;
        }
    }
}

void HayesSession::HangUp(bool connected) {
    if (!port_.IsOpen()) {
        return;
    }
    bool lineDropped = false;
    if (SUCCEEDED(port_.SetDtr(false))) {
        const Reply reply = AwaitResult(500, false);
        lineDropped = reply.wait == Wait::Result;
        port_.SetDtr(true);
    } else {
        Note("!! ", "DTR not available");
    }
    if (connected && !config_.voice && !lineDropped) {
        Pause(config_.guardMs);
        if (FAILED(Send("+++"))) {
            return;
        }
        AwaitResult(config_.guardMs + config_.commandTimeoutMs, false);
    }
    Command("ATH0", config_.commandTimeoutMs, false);
}

}  // namespace telsim::modem
