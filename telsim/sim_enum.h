// The service's enumerators (of addresses, of streams): one walk over a
// snapshot of held items, recorded and open to fault injection under the
// name of its Next operation.
#pragma once

#include "telsim/sim_object.h"

#include <algorithm>
#include <vector>

namespace telsim {

// Interface: IEnumXxx; ItemInterface: what Next hands out; Item: the
// service object; Iid: the enumerator's interface; KindName: its name in leak
// reports; NextOp: the operation name of Next.
template <class Interface, class ItemInterface, class Item, const IID& Iid, const wchar_t* KindName,
          const wchar_t* NextOp>
class SimEnum final : public SimObject, public Interface {
public:
    SimEnum(Service& service, std::vector<Held<Item>> items, std::size_t position = 0) noexcept
        : SimObject(service, KindName), items_(std::move(items)), position_(position) {}

    TELSIM_IUNKNOWN

    STDMETHODIMP Next(ULONG count, ItemInterface** items, ULONG* fetched) noexcept override {
        return Recorder().Run(
            NextOp, [&] { return ArgList(count); },
            [&](const Gate& gate) -> HRESULT {
                if (fetched) {
                    *fetched = 0;
                }
                if (!items) {
                    return E_POINTER;
                }
                if (count != 1 && !fetched) {
                    return E_INVALIDARG;
                }
                for (ULONG i = 0; i < count; ++i) {
                    items[i] = nullptr;
                }
                RETURN_IF_FAILED(gate.Admit());
                if (gate.nullOut) {
                    return S_OK;
                }
                ULONG done = 0;
                for (; done < count && position_ < items_.size(); ++done, ++position_) {
                    Item* item = items_[position_].Get();
                    item->AddRef();
                    items[done] = item;
                }
                if (fetched) {
                    *fetched = done;
                }
                return done == count ? S_OK : S_FALSE;
            });
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
        if (!result) {
            return E_POINTER;
        }
        *result = nullptr;
        return comkit::GuardCall([&] { return HandOut<SimEnum>(result, items_, position_); });
    }

private:
    HRESULT Query(REFIID riid, void** ppv) noexcept {
        return QueryOne(riid, Iid, static_cast<Interface*>(this), ppv, false);
    }
    void OnDestroy() noexcept override { items_.clear(); }

    std::vector<Held<Item>> items_;
    std::size_t position_;
};

}  // namespace telsim
