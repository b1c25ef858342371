#include "telsim/modem/modem_driver.h"

#include "comkit/result.h"
#include "telsim/translation.h"
#include "telsim/utf8.h"

#include <utility>

namespace telsim::modem {

ModemDriver::ModemDriver(std::shared_ptr<const ModemConfig> config, CallReports& reports)
    : config_(std::move(config)), reports_(reports) {}

ModemDriver::~ModemDriver() {
    std::unique_ptr<ModemDial> dial;
    std::lock_guard lock(mu_);
    dial = std::move(dial_);
}

bool ModemDriver::Running() const noexcept {
    std::lock_guard lock(mu_);
    return dial_ && !dial_->Ended();
}

CALL_STATE_EVENT_CAUSE CauseOf(Outcome outcome, bool wasConnected) {
    switch (outcome) {
    case Outcome::HungUp:
        return CEC_DISCONNECT_NORMAL;
    case Outcome::Busy:
        return CEC_DISCONNECT_BUSY;
    case Outcome::NoAnswer:
        return CEC_DISCONNECT_NOANSWER;
    case Outcome::NoCarrier:
        return wasConnected ? CEC_DISCONNECT_NORMAL : CEC_DISCONNECT_FAILED;
    default:
        return CEC_DISCONNECT_FAILED;
    }
}

HRESULT ModemDriver::Connect(const std::wstring& destination, bool) noexcept {
    return comkit::GuardCall([&] {
        auto connected = std::make_shared<bool>(false);
        const std::wstring device = config_->Device();
        auto callback = [this, connected, device](const DialEvent& event) {
            switch (event.state) {
            case DialState::InProgress:
                reports_.Report(CS_INPROGRESS, CEC_NONE);
                break;
            case DialState::Connected:
                *connected = true;
                reports_.Report(CS_CONNECTED, CEC_NONE);
                break;
            case DialState::Disconnected: {
                const std::wstring note = L"TelSim: modem call on " + device + L" ended: " +
                                          std::wstring(event.detail.begin(), event.detail.end()) +
                                          L"\n";
                OutputDebugStringW(note.c_str());
                reports_.Report(CS_DISCONNECTED, CauseOf(event.reason, *connected));
                break;
            }
            }
        };
        std::unique_ptr<ModemDial> dial;
        RETURN_IF_FAILED(ModemDial::Start(*config_, Utf8(DialableCharacters(destination)),
                                          std::move(callback), dial));
        std::unique_ptr<ModemDial> previous;
        std::lock_guard lock(mu_);
        previous = std::exchange(dial_, std::move(dial));
        return S_OK;
    });
}

HRESULT ModemDriver::Disconnect(bool) noexcept {
    return HangUp() ? S_OK : TAPI_E_INVALCALLSTATE;
}

bool ModemDriver::HangUp() noexcept {
    std::lock_guard lock(mu_);
    if (!dial_ || dial_->Ended()) {
        return false;
    }
    dial_->HangUp();
    return true;
}

DWORD ModemDriver::BeginShutdownHangUp() noexcept {
    if (!HangUp()) {
        return 0;
    }
    // Dropping DTR, the escape between guard times, ATH0.
    return 500 + 2 * config_->guardMs + 2 * config_->commandTimeoutMs + 1000;
}

std::string ModemDriver::Reason() const {
    std::lock_guard lock(mu_);
    return dial_ && dial_->Ended() ? OutcomeName(dial_->Reason()) : std::string();
}

std::string ModemDriver::Transcript() const {
    std::lock_guard lock(mu_);
    return dial_ ? dial_->Transcript() : std::string();
}

std::unique_ptr<CallDriver> ModemConfig::MakeDriver(CallReports& reports) const {
    return std::make_unique<ModemDriver>(std::make_shared<ModemConfig>(*this), reports);
}

const LineKind& ModemLineKind() {
    static const LineKind kind{
        L"modem",
        {std::begin(kModemOptionKeys), std::end(kModemOptionKeys)},
        [] { return std::shared_ptr<LineDevice>(std::make_shared<ModemConfig>()); },
        [](LineDevice& device, std::wstring_view key, std::wstring_view value) {
            return SetModemOption(static_cast<ModemConfig&>(device), key, value);
        },
        []() noexcept { return ModemDial::Running(); },
        nullptr,
    };
    return kind;
}

}  // namespace telsim::modem
