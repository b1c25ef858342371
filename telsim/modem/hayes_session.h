// The Hayes command dialogue with one modem, blocking: initialise, dial,
// wait for the carrier to drop, hang up. Every wait is bounded by the
// configured timeouts and ends early when `abort` becomes true.
#pragma once

#include "telsim/modem/modem_config.h"
#include "telsim/modem/result_codes.h"
#include "telsim/modem/serial_port.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace telsim::modem {

// How a modem call ended (or that it connected).
enum class Outcome {
    Connected,
    Busy,
    NoCarrier,
    NoAnswer,
    NoDialtone,
    Error,
    Timeout,
    PortFailure,
    HungUp,  // by our side
};
const char* OutcomeName(Outcome outcome);

class HayesSession {
public:
    // `abort` is read, never written; it must outlive the session.
    HayesSession(ModemConfig config, const std::atomic<bool>& abort);

    HRESULT Open() noexcept;
    void Close() noexcept { port_.Close(); }

    // Sends every initialisation command, each answered by OK. Connected
    // means "ready"; anything else is why not.
    Outcome Initialise();
    // Sends the dial command with `dialable` (reduced to dialable
    // characters) and waits for the final result. A voice dial is connected
    // on OK: the modem is back in command mode with the line off hook.
    Outcome Dial(std::string_view dialable);
    // While connected: returns NoCarrier when the modem reports the carrier
    // lost, PortFailure when the port fails, HungUp when `abort` is set.
    Outcome WaitWhileConnected();
    // Drops DTR (a port without modem lines ignores that) and, unless the
    // modem then reports the line dropped, leaves data mode with the escape
    // sequence between guard times; ends with ATH0. Best effort, bounded.
    void HangUp(bool connected);

    // Everything sent (">> ") and received ("<< "), one line each.
    std::string Transcript() const;
    // The command line sent by the last Dial, without its CR.
    const std::string& DialLine() const { return dialLine_; }

private:
    enum class Wait { Result, Timeout, Aborted, PortFailure };
    struct Reply {
        Wait wait = Wait::Timeout;
        ResultCode code = ResultCode::Error;
        std::string line;
    };

    HRESULT Send(std::string_view text);
    // Waits up to timeoutMs for a final result line; with honourAbort false
    // the wait goes on after an abort (used while hanging up).
    Reply AwaitResult(DWORD timeoutMs, bool honourAbort = true);
    Reply Command(std::string_view command, DWORD timeoutMs, bool honourAbort = true);
    void Note(const char* direction, std::string_view text);
    void Pause(DWORD ms);

    const ModemConfig config_;
    const std::atomic<bool>& abort_;
    SerialPort port_;
    std::string pending_;
    std::string dialLine_;
    mutable std::mutex transcriptMu_;
    std::string transcript_;
};

}  // namespace telsim::modem
