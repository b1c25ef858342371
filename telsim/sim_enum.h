// The service's enumerators (of addresses, of streams): one walk over a
// snapshot of held items, recorded and open to fault injection under the
// name of its Next operation.
#pragma once

#include "comkit/result.h"
#include "telsim/service_core.h"
#include "telsim/sim_object.h"

#include <algorithm>
#include <vector>

namespace telsim {

// Traits: Interface (IEnumXxx), ItemInterface (what Next hands out), Item
// (the service object), Iid(), kKind (the object's name in leak reports) and
// kNextOp (the operation name of Next).
template <class Traits>
class SimEnum final : public SimObject, public Traits::Interface {
public:
    using Interface = typename Traits::Interface;
    using ItemInterface = typename Traits::ItemInterface;
    using Item = typename Traits::Item;

    SimEnum(ServiceCore& core, std::vector<Held<Item>> items, std::size_t position = 0) noexcept
        : SimObject(core, Traits::kKind), items_(std::move(items)), position_(position) {}

    TELSIM_IUNKNOWN

    STDMETHODIMP Next(ULONG count, ItemInterface** items, ULONG* fetched) noexcept override {
        const Gate gate = core_.Begin(Traits::kNextOp, [&] { return ArgList(count); });
        if (fetched) *fetched = 0;
        if (!items) return core_.Finish(gate, E_POINTER);
        if (count != 1 && !fetched) return core_.Finish(gate, E_INVALIDARG);
        for (ULONG i = 0; i < count; ++i) items[i] = nullptr;
        if (FAILED(gate.fault)) return core_.Finish(gate, gate.fault);
        if (gate.nullOut) return core_.Finish(gate, S_OK);
        ULONG done = 0;
        for (; done < count && position_ < items_.size(); ++done, ++position_) {
            Item* item = items_[position_].Get();
            item->AddRef();
            items[done] = item;
        }
        if (fetched) *fetched = done;
        return core_.Finish(gate, done == count ? S_OK : S_FALSE);
    }

    STDMETHODIMP Reset() noexcept override {
        position_ = 0;
        return S_OK;
    }

    STDMETHODIMP Skip(ULONG count) noexcept override {
        const std::size_t left = items_.size() - position_;
        position_ += std::min<std::size_t>(left, count);
        return count <= left ? S_OK : S_FALSE;
    }

    STDMETHODIMP Clone(Interface** result) noexcept override {
        if (!result) return E_POINTER;
        *result = nullptr;
        return comkit::GuardCall([&] {
            SimEnum* copy = core_.Make<SimEnum>(items_, position_);
            copy->AddRef();
            *result = copy;
            return S_OK;
        });
    }

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept {
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, Traits::Iid())) return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    void OnDestroy() noexcept override { items_.clear(); }

    std::vector<Held<Item>> items_;
    std::size_t position_;
};

}  // namespace telsim
