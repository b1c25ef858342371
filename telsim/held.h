// A service reference to one of the service's objects: the service's own
// links between its objects, which do not count as a client's references.
#pragma once

#include <utility>

namespace telsim {

// ServiceHold on copy, ServiceUnhold on reset.
template <class T>
class Held {
public:
    Held() noexcept = default;
    explicit Held(T* p) noexcept : p_(p) {
        if (p_) {
            p_->ServiceHold();
        }
    }
    Held(const Held& other) noexcept : Held(other.p_) {}
    Held(Held&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Held& operator=(Held other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Held() { Reset(); }
    void Reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) {
            p->ServiceUnhold();
        }
    }
    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

}  // namespace telsim
