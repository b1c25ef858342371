#include "telsim/modem/call_modem.h"

#include "telsim/modem/number_translation.h"

#include <utility>

namespace telsim::modem {

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
