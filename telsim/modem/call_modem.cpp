#include "telsim/modem/call_modem.h"

#include "telsim/translation.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace telsim::modem {
namespace {

std::mutex g_registryMu;
std::vector<CallModem*> g_registry;

}  // namespace

CallModem::CallModem(std::shared_ptr<const ModemConfig> config, const void* owner)
    : config_(std::move(config)), owner_(owner) {
    std::lock_guard lock(g_registryMu);
    g_registry.push_back(this);
}

CallModem::~CallModem() {
    {
        std::lock_guard lock(g_registryMu);
        g_registry.erase(std::remove(g_registry.begin(), g_registry.end(), this), g_registry.end());
    }
    std::unique_ptr<ModemCall> call;
    {
        std::lock_guard lock(mu_);
        call = std::move(call_);
    }
}

bool CallModem::Running() const {
    std::lock_guard lock(mu_);
    return call_ && !call_->Ended();
}

void CallModem::HangUpAll(const void* owner) noexcept {
    DWORD longest = 0;
    {
        std::lock_guard lock(g_registryMu);
        for (CallModem* modem : g_registry) {
            if (modem->owner_ != owner || !modem->HangUp()) continue;
            const ModemConfig& c = *modem->config_;
            // Dropping DTR, the escape between guard times, ATH0.
            longest = std::max<DWORD>(longest, 500 + 2 * c.guardMs + 2 * c.commandTimeoutMs + 1000);
        }
    }
    const ULONGLONG deadline = GetTickCount64() + longest;
    for (;;) {
        bool running = false;
        {
            std::lock_guard lock(g_registryMu);
            for (CallModem* modem : g_registry) running = running || (modem->owner_ == owner && modem->Running());
        }
        if (!running || GetTickCount64() >= deadline) return;
        Sleep(20);
    }
}

CALL_STATE_EVENT_CAUSE CauseOf(Outcome outcome, bool wasConnected) {
    switch (outcome) {
    case Outcome::HungUp: return CEC_DISCONNECT_NORMAL;
    case Outcome::Busy: return CEC_DISCONNECT_BUSY;
    case Outcome::NoAnswer: return CEC_DISCONNECT_NOANSWER;
    case Outcome::NoCarrier: return wasConnected ? CEC_DISCONNECT_NORMAL : CEC_DISCONNECT_FAILED;
    default: return CEC_DISCONNECT_FAILED;
    }
}

HRESULT CallModem::Connect(const std::wstring& destination, Post post) noexcept {
    try {
        std::string dialable;
        for (wchar_t c : DialableCharacters(destination)) dialable += static_cast<char>(c);
        auto connected = std::make_shared<bool>(false);
        const std::wstring device = config_->Device();
        auto callback = [post = std::move(post), connected, device](const ModemEvent& event) {
            switch (event.state) {
            case ModemCallState::InProgress: post(CS_INPROGRESS, CEC_NONE); break;
            case ModemCallState::Connected:
                *connected = true;
                post(CS_CONNECTED, CEC_NONE);
                break;
            case ModemCallState::Disconnected: {
                const std::wstring note = L"TelSim: modem call on " + device + L" ended: " +
                                          std::wstring(event.detail.begin(), event.detail.end()) + L"\n";
                OutputDebugStringW(note.c_str());
                post(CS_DISCONNECTED, CauseOf(event.reason, *connected));
                break;
            }
            }
        };
        std::unique_ptr<ModemCall> call;
        const HRESULT hr = ModemCall::Start(*config_, std::move(dialable), std::move(callback), call);
        if (FAILED(hr)) return hr;
        std::unique_ptr<ModemCall> previous;
        {
            std::lock_guard lock(mu_);
            previous = std::exchange(call_, std::move(call));
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

bool CallModem::HangUp() noexcept {
    std::lock_guard lock(mu_);
    if (!call_ || call_->Ended()) return false;
    call_->HangUp();
    return true;
}

std::string CallModem::Reason() const {
    std::lock_guard lock(mu_);
    return call_ && call_->Ended() ? OutcomeName(call_->Reason()) : std::string();
}

std::string CallModem::Transcript() const {
    std::lock_guard lock(mu_);
    return call_ ? call_->Transcript() : std::string();
}

}  // namespace telsim::modem
