// The control connection to a SIP agent: a Winsock TCP client with a
// reader thread that cuts the stream into netstrings, parses each one and
// hands it to the owner.
#pragma once

#include "telsim/sip/agent_endpoint.h"
#include "telsim/sip/agent_message.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

namespace telsim::sip {

class AgentConnection {
public:
    // Both run on the reader thread, one at a time, never after Close has
    // returned or the connection is destroyed. They may call Send and
    // Close, but must not destroy the connection.
    using MessageHandler = std::function<void(const AgentMessage&)>;
    // The connection ended without Close: the agent closed it or went away
    // (HRESULT_FROM_WIN32(WSAECONNRESET) or the socket's error), or sent
    // something malformed or oversized (HRESULT_FROM_WIN32(ERROR_INVALID_DATA)),
    // in which case the connection is closed here. Called once at most;
    // nothing follows it.
    using DropHandler = std::function<void(HRESULT)>;

    // Connects, waiting at most connectTimeoutMs. An agent that does not
    // listen fails with HRESULT_FROM_WIN32(WSAECONNREFUSED) (at once, on
    // loopback), one that does not answer with HRESULT_FROM_WIN32(WSAETIMEDOUT);
    // no thread is started then. The agent takes one control connection at
    // a time: while another connection of this module to it is open, Open
    // first waits for that one to close (connectTimeoutMs at most), else
    // fails with TAPI_E_INUSE.
    static HRESULT Open(const AgentEndpoint& endpoint, DWORD connectTimeoutMs,
                        MessageHandler onMessage, DropHandler onDropped,
                        std::unique_ptr<AgentConnection>& out) noexcept;

    // Sends one framed command (see EncodeCommand); safe from any thread.
    // HRESULT_FROM_WIN32(WSAENOTCONN) once the connection is closed or dropped.
    HRESULT Send(std::string_view frame) noexcept;

    // Stops the reader and ends the connection; safe from any thread, again
    // and again. From another thread it returns once the reader has ended;
    // from a handler, the reader ends as soon as the handler returns.
    void Close() noexcept;

    // Closes and waits for the reader. Destroyed on the reader thread
    // itself (which the handlers must not do), it lets the thread end alone.
    ~AgentConnection();
    AgentConnection(const AgentConnection&) = delete;
    AgentConnection& operator=(const AgentConnection&) = delete;

    // Reader threads still running in this module (a module must not be
    // unloaded while one runs).
    static long Running() noexcept;

    struct Shared;

private:
    explicit AgentConnection(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    void Join() noexcept;

    std::shared_ptr<Shared> shared_;
    std::mutex joinMu_;
    std::thread reader_;
};

}  // namespace telsim::sip
