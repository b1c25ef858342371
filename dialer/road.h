// The one road through a dialer's members that call the service.
#pragma once

#include "dialer/tapi_dialer.h"

namespace dialer {

// What a member let in while another of its dialer's members waits on the
// same thread answers: E_ILLEGAL_METHOD_CALL, "a method was called at an
// unexpected time".
constexpr HRESULT kDialerBusy = static_cast<HRESULT>(0x8000000EL);

}  // namespace dialer

class CTAPIDialer::Road {
public:
    explicit Road(CTAPIDialer& dialer) noexcept
        : m_dialer(dialer), m_held(&dialer), m_entered(dialer.EnterRoad()) {}
    Road(const Road&) = delete;
    Road& operator=(const Road&) = delete;
    ~Road() {
        if (m_entered) {
            m_dialer.LeaveRoad();
        }
    }
    // False for a member that must answer dialer::kDialerBusy: the refusal
    // is reported already.
    explicit operator bool() const noexcept { return m_entered; }

private:
    CTAPIDialer& m_dialer;
    // Let go last, once the road is left: it may be the dialer's last.
    const Microsoft::WRL::ComPtr<ITAPIDialer> m_held;
    const bool m_entered;
};
