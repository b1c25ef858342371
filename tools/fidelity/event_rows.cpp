#include "tools/fidelity/rows.h"

#include "tools/fidelity/sink.h"

#include "comkit/bstr.h"

namespace fidelity {
namespace {

constexpr long kFilter = TE_CALLNOTIFICATION | TE_CALLSTATE | TE_CALLINFOCHANGE;
// How long a row waits for an event that should come (generous: under
// emulation events come seconds late), for the absence of one that should
// not, and for the stragglers of its call before the next row advises a
// sink of its own.
constexpr DWORD kEventMs = 30000;
constexpr DWORD kQuietMs = 1000;
constexpr DWORD kDrainMs = 300;

// A call that makes the service send events: created, then connected on a
// line named by --connect (a simulated one) and dropped again, or, on any
// other line, left idle and disconnected, which is all a row may do with a
// real line.
class RaisedCall {
public:
    RaisedCall() = default;
    RaisedCall(const RaisedCall&) = delete;
    RaisedCall& operator=(const RaisedCall&) = delete;
    ~RaisedCall() { End(); }

    HRESULT Raise(const Session& session, const CallLine& line) {
        if (line.index >= session.Lines().size()) {
            return E_UNEXPECTED;  // this root object lists fewer lines
        }
        comkit::UniqueBstr number(SysAllocString(L"5550100"));
        if (!number) {
            return E_OUTOFMEMORY;
        }
        HRESULT hr = session.Lines()[line.index].address->CreateCall(
            number.Get(), LINEADDRESSTYPE_PHONENUMBER, line.mediaType, &call_);
        if (FAILED(hr)) {
            return hr;
        }
        if (!line.mayConnect) {
            return call_->Disconnect(DC_NORMAL);
        }
        hr = call_->Connect(VARIANT_FALSE);
        connected_ = SUCCEEDED(hr);
        return hr;
    }
    void End() {
        if (connected_) {
            call_->Disconnect(DC_NORMAL);
            connected_ = false;
        }
        call_.Reset();
    }

private:
    ComPtr<ITBasicCallControl> call_;
    bool connected_ = false;
};

// A root object of its own with one sink advised; the sink is let go and
// the root shut down when it goes.
struct Rig {
    Session session;
    ComPtr<Sink> sink;
    Advised advised;

    bool Open(bool agile, std::wstring& failure) {
        if (!session.Open(failure)) {
            return false;
        }
        sink = Sink::Make(agile);
        if (!sink) {
            failure = L"no memory for a sink";
            return false;
        }
        const HRESULT hr = advised.Advise(session.Root(), sink.Get());
        if (FAILED(hr)) {
            failure = L"advising the sink failed: " + Hex(hr);
        }
        return SUCCEEDED(hr);
    }
    bool Filter(std::wstring& failure) {
        const HRESULT hr = session.Root()->put_EventFilter(kFilter);
        if (FAILED(hr)) {
            failure = L"put_EventFilter failed: " + Hex(hr);
        }
        return SUCCEEDED(hr);
    }
    bool Raise(RaisedCall& call, const CallLine& line, std::wstring& failure) {
        const HRESULT hr = call.Raise(session, line);
        if (FAILED(hr)) {
            failure = L"raising a call on \"" + line.name + L"\" failed: " + Hex(hr);
        }
        return SUCCEEDED(hr);
    }
};

std::wstring HowRaised(const CallLine& line) {
    return (line.mayConnect ? L"a call connected and dropped on \""
                            : L"a call created and disconnected idle on \"") +
           line.name + L"\"";
}

void SinkMarshalling(Report& report) {
    const wchar_t* row = L"marshalling of the sink's interface";
    CLSID proxy = {};
    const HRESULT hr = CoGetPSClsid(IID_ITTAPIEventNotification, &proxy);
    wchar_t text[40] = L"?";
    StringFromGUID2(proxy, text, 40);
    if (SUCCEEDED(hr)) {
        report.Pass(row, std::wstring(L"ITTAPIEventNotification's proxy class is ") + text);
    } else {
        report.Fail(row, L"no proxy class for ITTAPIEventNotification: " + Hex(hr));
    }
}

// Events reach a sink only once the filter asks for them. Returns how many
// came with the filter: no other event row can run without one.
long EventFilter(Report& report, const CallLine& line) {
    const wchar_t* row = L"event filter";
    Rig rig;
    std::wstring failure;
    long before = 0;
    if (!rig.Open(true, failure)) {
        report.Fail(row, failure);
        return 0;
    }
    {
        RaisedCall unfiltered;
        if (!rig.Raise(unfiltered, line, failure)) {
            report.Fail(row, failure);
            return 0;
        }
        PumpFor(kQuietMs);
        before = rig.sink->Count();
    }
    RaisedCall filtered;
    if (!rig.Filter(failure) || !rig.Raise(filtered, line, failure)) {
        report.Fail(row, failure);
        return 0;
    }
    PumpUntil(kEventMs, [&] { return rig.sink->Count() > before; });
    filtered.End();
    PumpFor(kDrainMs);
    const long after = rig.sink->Count() - before;
    if (before > 0) {
        report.Fail(row, std::to_wstring(before) + L" event(s) before put_EventFilter from " +
                             HowRaised(line) + L", expected none");
    } else if (after == 0) {
        report.NotApplicable(row, L"no event came with a filter either, from " + HowRaised(line));
    } else {
        report.Pass(row, L"none in " + std::to_wstring(kQuietMs) + L" ms without a filter, " +
                             std::to_wstring(after) + L" with it, from " + HowRaised(line));
    }
    return after;
}

void ApartmentSink(Report& report, const CallLine& line) {
    const wchar_t* row = L"events for a sink of a single-threaded apartment";
    Rig rig;
    RaisedCall call;
    std::wstring failure;
    if (!rig.Open(false, failure) || !rig.Filter(failure) || !rig.Raise(call, line, failure)) {
        report.Fail(row, failure);
        return;
    }
    WaitForSingleObject(rig.sink->Signal(), kQuietMs);  // deliberately without pumping
    const long unpumped = rig.sink->Count();
    PumpUntil(kEventMs, [&] { return rig.sink->Count() > unpumped; });
    call.End();
    PumpFor(kDrainMs);
    const long home = rig.sink->AtHome(), elsewhere = rig.sink->Elsewhere();
    const std::wstring counts = std::to_wstring(home) + L" on its own thread, " +
                                std::to_wstring(elsewhere) + L" on others";
    if (unpumped > 0) {
        report.Fail(row, std::to_wstring(unpumped) +
                             L" event(s) while its thread waited without pumping, expected none");
    } else if (home == 0 || elsewhere > 0) {
        report.Fail(row, counts + L" once it pumped, expected all on its own thread");
    } else {
        report.Pass(
            row, L"none while its thread waited without pumping; " + counts + L" once it pumped");
    }
}

void AgileSink(Report& report, const CallLine& line) {
    const wchar_t* row = L"events for an agile sink";
    Rig rig;
    RaisedCall call;
    std::wstring failure;
    if (!rig.Open(true, failure) || !rig.Filter(failure) || !rig.Raise(call, line, failure)) {
        report.Fail(row, failure);
        return;
    }
    // The advising thread never pumps here: only another thread can call.
    const DWORD waited = WaitForSingleObject(rig.sink->Signal(), kEventMs);
    const long home = rig.sink->AtHome(), elsewhere = rig.sink->Elsewhere();
    call.End();
    PumpFor(kDrainMs);
    if (waited != WAIT_OBJECT_0) {
        report.Fail(row, L"no event in " + std::to_wstring(kEventMs) +
                             L" ms while the advising thread did not pump");
    } else if (home > 0) {
        report.Fail(row, std::to_wstring(home) + L" event(s) on the advising thread");
    } else {
        report.Pass(row, std::to_wstring(elsewhere) +
                             L" event(s) on another thread while the advising thread did not "
                             L"pump");
    }
}

}  // namespace

void CheckEvents(Report& report, const CallLine* line, const std::wstring& why) {
    SinkMarshalling(report);
    const wchar_t* rows[] = {L"event filter", L"RegisterCallNotifications",
                             L"events for a sink of a single-threaded apartment",
                             L"events for an agile sink"};
    if (!line) {
        for (const wchar_t* row : rows) {
            report.NotApplicable(row, why);
        }
        return;
    }
    const long filtered = EventFilter(report, *line);
    if (filtered == 0) {
        const std::wstring none = L"no event could be raised, from " + HowRaised(*line);
        for (const wchar_t* row : {rows[1], rows[2], rows[3]}) {
            report.NotApplicable(row, none);
        }
        return;
    }
    // No row here registers: the events of the call came without it.
    report.Pass(rows[1], std::to_wstring(filtered) + L" event(s) from " + HowRaised(*line) +
                             L" reached the sink without it");
    ApartmentSink(report, *line);
    AgileSink(report, *line);
}

}  // namespace fidelity
