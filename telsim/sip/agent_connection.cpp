#include "telsim/sip/agent_connection.h"

#include "comkit/result.h"
#include "telsim/line_thread.h"

#include "telsim/sip/json_reader.h"
#include "telsim/sip/netstring.h"
#include "telephony/tapi.h"

#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

namespace telsim::sip {
namespace {

std::atomic<long> g_running{0};

constexpr DWORD kSendTimeoutMs = 2000;

HRESULT SocketError(int error) {
    return HRESULT_FROM_WIN32(error == 0 ? WSAECONNRESET : error);
}

class WinsockUse {
public:
    WinsockUse() {
        WSADATA data{};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockUse() {
        if (started_) {
            WSACleanup();
        }
    }
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;
    bool Started() const { return started_; }

private:
    bool started_ = false;
};

struct Handle {
    HANDLE h = nullptr;
    ~Handle() {
        if (h) {
            CloseHandle(h);
        }
    }
};

// Waits until `socket` can take more (write) or has failed (except).
int WaitWritable(SOCKET socket, DWORD timeoutMs, bool& failed) {
    fd_set writable;
    fd_set failing;
    FD_ZERO(&writable);
    FD_ZERO(&failing);
    FD_SET(socket, &writable);
    FD_SET(socket, &failing);
    timeval timeout{static_cast<long>(timeoutMs / 1000),
                    static_cast<long>((timeoutMs % 1000) * 1000)};
    const int ready = select(0, nullptr, &writable, &failing, &timeout);
    failed = ready > 0 && FD_ISSET(socket, &failing);
    return ready;
}

// baresip's control module keeps one connection: another one closes it, and
// everything the agent says from then on goes to the newcomer. So this
// module holds at most one connection to each agent, the next waiting for
// the one before to close (a call hanging up ends its connection in
// milliseconds).
class AgentClaims {
public:
    static bool Claim(ULONG64 agent, DWORD waitMs) {
        std::unique_lock lock(Mu());
        const bool free = Released().wait_for(lock, std::chrono::milliseconds(waitMs),
                                              [&] { return Held().count(agent) == 0; });
        if (free) {
            Held().insert(agent);
        }
        return free;
    }
    static void Release(ULONG64 agent) {
        {
            std::lock_guard lock(Mu());
            Held().erase(agent);
        }
        Released().notify_all();
    }

private:
    static std::mutex& Mu() {
        static std::mutex mu;
        return mu;
    }
    static std::condition_variable& Released() {
        static std::condition_variable released;
        return released;
    }
    static std::set<ULONG64>& Held() {
        static std::set<ULONG64> held;
        return held;
    }
};

}  // namespace

// Lives as long as the connection object or its reader, whichever is longer.
struct AgentConnection::Shared {
    ~Shared() {
        ReleaseClaim();
        if (socket != INVALID_SOCKET) {
            closesocket(socket);
        }
        if (network != WSA_INVALID_EVENT) {
            WSACloseEvent(network);
        }
    }

    HRESULT Connect(const AgentEndpoint& endpoint, DWORD timeoutMs) {
        if (!winsock.Started()) {
            return HRESULT_FROM_WIN32(WSASYSNOTREADY);
        }
        agent = (static_cast<ULONG64>(endpoint.address) << 16) | endpoint.port;
        if (!AgentClaims::Claim(agent, timeoutMs)) {
            return TAPI_E_INUSE;
        }
        claimed.store(true);
        socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket == INVALID_SOCKET) {
            return SocketError(WSAGetLastError());
        }
        u_long nonBlocking = 1;
        if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
            return SocketError(WSAGetLastError());
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(endpoint.port);
        address.sin_addr.s_addr = htonl(endpoint.address);
        if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) {
                return SocketError(error);
            }
            bool failed = false;
            const int ready = WaitWritable(socket, timeoutMs, failed);
            if (ready == 0) {
                return HRESULT_FROM_WIN32(WSAETIMEDOUT);
            }
            int soError = 0;
            int size = sizeof soError;
            if (ready < 0 || getsockopt(socket, SOL_SOCKET, SO_ERROR,
                                        reinterpret_cast<char*>(&soError), &size) != 0) {
                return SocketError(WSAGetLastError());
            }
            if (failed || soError != 0) {
                return SocketError(soError);
            }
        }
        network = WSACreateEvent();
        stop.h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (network == WSA_INVALID_EVENT || !stop.h) {
            return HRESULT_FROM_WIN32(GetLastError());
        }
        if (WSAEventSelect(socket, network, FD_READ | FD_CLOSE) != 0) {
            return SocketError(WSAGetLastError());
        }
        return S_OK;
    }

    HRESULT Send(std::string_view frame) {
        std::lock_guard lock(sendMu);
        if (closed.load()) {
            return HRESULT_FROM_WIN32(WSAENOTCONN);
        }
        while (!frame.empty()) {
            const int sent = send(socket, frame.data(), static_cast<int>(frame.size()), 0);
            if (sent > 0) {
                frame.remove_prefix(static_cast<std::size_t>(sent));
                continue;
            }
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK) {
                return SocketError(error);
            }
            bool failed = false;
            if (WaitWritable(socket, kSendTimeoutMs, failed) <= 0 || failed) {
                return HRESULT_FROM_WIN32(WSAETIMEDOUT);
            }
        }
        return S_OK;
    }

    // Marks the connection closed and waits out a handler still running
    // (unless this is its own thread), so none runs after this returns;
    // then ends the connection, which lets the next one to the agent open.
    void Stop() {
        closed.store(true);
        SetEvent(stop.h);
        {
            std::lock_guard lock(handlerMu);
            onMessage = nullptr;
            onDropped = nullptr;
        }
        {
            std::lock_guard lock(sendMu);
            shutdown(socket, SD_BOTH);
        }
        ReleaseClaim();
    }

    void ReleaseClaim() {
        if (claimed.exchange(false)) {
            AgentClaims::Release(agent);
        }
    }

    void Run() {
        HANDLE waits[] = {stop.h, network};
        for (;;) {
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
                return;
            }
            WSANETWORKEVENTS events{};
            if (WSAEnumNetworkEvents(socket, network, &events) != 0) {
                return Dropped(SocketError(WSAGetLastError()));
            }
            // Everything that arrived, to the end of the stream if it ended.
            for (;;) {
                char buffer[4096];
                const int got = recv(socket, buffer, sizeof buffer, 0);
                if (got == 0) {
                    return Dropped(SocketError(0));
                }
                if (got < 0) {
                    const int error = WSAGetLastError();
                    if (error != WSAEWOULDBLOCK) {
                        return Dropped(SocketError(error));
                    }
                    break;
                }
                if (!Deliver(std::string_view(buffer, static_cast<std::size_t>(got)))) {
                    return Dropped(MalformedData());
                }
                if (closed.load()) {
                    return;
                }
            }
            if (events.lNetworkEvents & FD_CLOSE) {
                return Dropped(SocketError(events.iErrorCode[FD_CLOSE_BIT]));
            }
        }
    }

    bool Deliver(std::string_view bytes) {
        if (!decoder.Feed(bytes)) {
            return false;
        }
        std::string frame;
        for (;;) {
            const NetstringDecoder::Status status = decoder.Next(frame);
            if (status == NetstringDecoder::Status::NeedMore) {
                return true;
            }
            AgentMessage message;
            if (status == NetstringDecoder::Status::Malformed ||
                FAILED(ParseAgentMessage(frame, message))) {
                return false;
            }
            std::lock_guard lock(handlerMu);
            if (onMessage) {
                const MessageHandler handler = onMessage;
                handler(message);
            }
        }
    }

    void Dropped(HRESULT why) {
        {
            std::lock_guard lock(sendMu);
            if (closed.exchange(true)) {
                // Stop closed it: the end is its own, not a drop.
                return;
            }
            // Nothing more is read or sent: a malformed stream ends here too.
            shutdown(socket, SD_BOTH);
        }
        ReleaseClaim();
        std::lock_guard lock(handlerMu);
        if (onDropped) {
            const DropHandler handler = onDropped;
            onMessage = nullptr;
            onDropped = nullptr;
            handler(why);
        }
    }

    WinsockUse winsock;
    ULONG64 agent = 0;
    std::atomic<bool> claimed{false};
    SOCKET socket = INVALID_SOCKET;
    WSAEVENT network = WSA_INVALID_EVENT;
    Handle stop;
    NetstringDecoder decoder;
    std::atomic<bool> closed{false};
    std::mutex sendMu;
    // Held while a handler runs. Recursive: a handler may call Close.
    std::recursive_mutex handlerMu;
    MessageHandler onMessage;
    DropHandler onDropped;
};

long AgentConnection::Running() noexcept {
    return g_running.load();
}

HRESULT AgentConnection::Open(const AgentEndpoint& endpoint, DWORD connectTimeoutMs,
                              MessageHandler onMessage, DropHandler onDropped,
                              std::unique_ptr<AgentConnection>& out) noexcept {
    out.reset();
    return comkit::GuardCall([&]() -> HRESULT {
        auto shared = std::make_shared<Shared>();
        RETURN_IF_FAILED(shared->Connect(endpoint, connectTimeoutMs));
        shared->onMessage = std::move(onMessage);
        shared->onDropped = std::move(onDropped);
        std::unique_ptr<AgentConnection> connection(new AgentConnection(shared));
        // The socket closes with the last of `shared`.
        connection->reader_ = StartCountedThread(g_running, [shared] { shared->Run(); });
        out = std::move(connection);
        return S_OK;
    });
}

HRESULT AgentConnection::Send(std::string_view frame) noexcept {
    return shared_->Send(frame);
}

void AgentConnection::Close() noexcept {
    shared_->Stop();
    Join();
}

void AgentConnection::Join() noexcept {
    std::lock_guard lock(joinMu_);
    if (!reader_.joinable()) {
        return;
    }
    if (reader_.get_id() == std::this_thread::get_id()) {
        // A handler closed the connection: its thread ends when it returns.
        return;
    }
    reader_.join();
}

AgentConnection::~AgentConnection() {
    shared_->Stop();
    Join();
    if (reader_.joinable()) {
        reader_.detach();
    }
}

}  // namespace telsim::sip
