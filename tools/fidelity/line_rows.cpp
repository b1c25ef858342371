#include "tools/fidelity/rows.h"

#include "comkit/bstr.h"

namespace fidelity {
namespace {

// Calls made here are only created, never connected, so the number reaches
// no one; it is a fictional one all the same.
constexpr wchar_t kNumber[] = L"5550100";
constexpr long kMediaTypes[] = {TAPIMEDIATYPE_AUDIO, TAPIMEDIATYPE_DATAMODEM, TAPIMEDIATYPE_G3FAX,
                                TAPIMEDIATYPE_VIDEO};

HRESULT CreateCall(const Line& line, long addressType, long mediaType,
                   ComPtr<ITBasicCallControl>& call) {
    comkit::UniqueBstr number(SysAllocString(kNumber));
    if (!number) {
        return E_OUTOFMEMORY;
    }
    return line.address->CreateCall(number.Get(), addressType, mediaType, &call);
}

// One of the common media types the line lacks; 0 if it has them all.
long MissingMediaType(const Line& line) {
    for (long type : kMediaTypes) {
        if (!(line.mediaTypes & type)) {
            return type;
        }
    }
    return 0;
}

void ListLines(Report& report, const std::vector<Line>& lines) {
    const wchar_t* row = L"a machine's lines";
    std::wstring detail = std::to_wstring(lines.size()) + L" line(s)";
    bool allNamed = true;
    for (const Line& line : lines) {
        detail += L"; \"" + line.name + L"\" address types " + Hex(line.addressTypes) + L" media " +
                  Hex(line.mediaTypes);
        if (!line.unreadable.empty()) {
            detail += L" (unreadable:" + line.unreadable + L")";
        }
        allNamed = allNamed && line.named;
    }
    if (allNamed) {
        report.Pass(row, detail);
    } else {
        report.Fail(row, detail + L"; expected every line to have a name");
    }
}

void QueryMediaType(Report& report, const std::vector<Line>& lines) {
    const wchar_t* row = L"QueryMediaType";
    for (const Line& line : lines) {
        const long has = OneMediaType(line);
        const long lacks = MissingMediaType(line);
        ComPtr<ITMediaSupport> media;
        if (!has || !lacks || FAILED(line.address.As(&media))) {
            continue;
        }
        const auto ask = [&](long types) {
            VARIANT_BOOL answer = VARIANT_FALSE;
            const HRESULT hr = media->QueryMediaType(types, &answer);
            return FAILED(hr) ? L"fails " + Hex(hr) : std::wstring(answer ? L"true" : L"false");
        };
        const std::wstring one = ask(has), both = ask(has | lacks), other = ask(lacks);
        const std::wstring detail = L"on \"" + line.name + L"\": " + Hex(has) + L" " + one + L", " +
                                    Hex(has | lacks) + L" " + both + L", " + Hex(lacks) + L" " +
                                    other;
        if (one == L"true" && both == L"false" && other == L"false") {
            report.Pass(row, detail);
        } else {
            report.Fail(row, detail + L"; expected true only for the line's own type");
        }
        return;
    }
    report.NotApplicable(row, L"no line with both a media type it carries and one it lacks");
}

void AddressTypes(Report& report, const Line& line) {
    const wchar_t* row = L"CreateCall: address type";
    const long media = OneMediaType(line);
    ComPtr<ITBasicCallControl> call;
    const HRESULT none = CreateCall(line, 0, media, call);
    call.Reset();
    const HRESULT two =
        CreateCall(line, LINEADDRESSTYPE_PHONENUMBER | LINEADDRESSTYPE_DOMAINNAME, media, call);
    const std::wstring detail =
        L"on \"" + line.name + L"\": no type " + Hex(none) + L", two types " + Hex(two);
    if (none == E_INVALIDARG && two == E_INVALIDARG) {
        report.Pass(row, detail);
    } else {
        report.Fail(row, detail + L"; expected E_INVALIDARG (0x80070057) for both");
    }
}

void Media(Report& report, const std::vector<Line>& lines) {
    const wchar_t* row = L"CreateCall: media";
    for (const Line& line : lines) {
        const long lacks = MissingMediaType(line);
        if (!TakesPhoneNumbers(line) || !lacks) {
            continue;
        }
        ComPtr<ITBasicCallControl> call;
        const HRESULT hr = CreateCall(line, LINEADDRESSTYPE_PHONENUMBER, lacks, call);
        const std::wstring detail =
            L"on \"" + line.name + L"\", media " + Hex(lacks) + L" it lacks: " + Hex(hr);
        if (FAILED(hr)) {
            report.Pass(row, L"refused " + detail);
        } else {
            report.Fail(row, detail + L"; expected a failure");
        }
        return;
    }
    report.NotApplicable(row, L"no line takes phone numbers and lacks a common media type");
}

void DisconnectIdle(Report& report, const Line& line) {
    const wchar_t* row = L"Disconnect of an idle call";
    ComPtr<ITBasicCallControl> call;
    const HRESULT created = CreateCall(line, LINEADDRESSTYPE_PHONENUMBER, OneMediaType(line), call);
    if (FAILED(created)) {
        report.Fail(row, L"CreateCall on \"" + line.name + L"\" failed: " + Hex(created));
        return;
    }
    const HRESULT hr = call->Disconnect(DC_NORMAL);
    if (hr == S_FALSE) {
        report.Pass(row, L"S_FALSE on \"" + line.name + L"\"");
    } else {
        report.Fail(row, Hex(hr) + L" on \"" + line.name + L"\", expected S_FALSE");
    }
}

// The class that unmarshals what the free-threaded marshaler marshals, as
// its GetUnmarshalClass names it. mingw-w64's libuuid defines
// CLSID_InProcFreeMarshaler as {0000001C-...}, which nothing answers.
constexpr CLSID kFreeThreadedUnmarshaler = {
    0x0000033A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Whether COM may call the object directly from any apartment. Empty
// `misbehaved` unless a query answered what no object should.
std::wstring Agility(IUnknown* object, std::wstring& misbehaved) {
    ComPtr<IAgileObject> agile;
    HRESULT hr = object->QueryInterface(IID_PPV_ARGS(&agile));
    if (hr == S_OK && agile) {
        return L"agile (IAgileObject)";
    }
    if (hr != E_NOINTERFACE) {
        misbehaved = L"QueryInterface(IAgileObject) " + Hex(hr);
        return misbehaved;
    }
    ComPtr<IMarshal> marshal;
    hr = object->QueryInterface(IID_PPV_ARGS(&marshal));
    if (hr == E_NOINTERFACE) {
        return L"not agile (standard marshalling)";
    }
    CLSID unmarshaler = {};
    if (SUCCEEDED(hr) && marshal) {
        hr = marshal->GetUnmarshalClass(IID_IUnknown, object, MSHCTX_INPROC, nullptr,
                                        MSHLFLAGS_NORMAL, &unmarshaler);
    }
    if (FAILED(hr) || !marshal) {
        misbehaved = L"IMarshal " + Hex(hr);
        return misbehaved;
    }
    if (IsEqualCLSID(unmarshaler, kFreeThreadedUnmarshaler)) {
        return L"agile (free-threaded marshaler)";
    }
    wchar_t text[40] = L"?";
    StringFromGUID2(unmarshaler, text, 40);
    return std::wstring(L"not agile (its own marshaler ") + text + L")";
}

void ObjectAgility(Report& report, const std::vector<Line>& lines, const Line* callable) {
    const wchar_t* row = L"agility of call and address objects";
    if (lines.empty()) {
        report.NotApplicable(row, L"no lines, so no address object");
        return;
    }
    std::wstring misbehaved;
    std::wstring detail = L"address: " + Agility(lines.front().address.Get(), misbehaved);
    ComPtr<ITBasicCallControl> call;
    const HRESULT created =
        callable ? CreateCall(*callable, LINEADDRESSTYPE_PHONENUMBER, OneMediaType(*callable), call)
                 : E_UNEXPECTED;
    if (SUCCEEDED(created) && call) {
        detail += L"; call: " + Agility(call.Get(), misbehaved);
    } else {
        detail += callable ? L"; no call: CreateCall " + Hex(created)
                           : std::wstring(L"; no call: no line takes phone numbers");
    }
    if (misbehaved.empty()) {
        report.Pass(row, detail);
    } else {
        report.Fail(row, detail);
    }
}

}  // namespace

void CheckLines(Report& report, const Session& session) {
    const std::vector<Line>& lines = session.Lines();
    ListLines(report, lines);
    QueryMediaType(report, lines);
    Media(report, lines);
    const Line* callable = CallableLine(lines);
    if (callable) {
        AddressTypes(report, *callable);
        DisconnectIdle(report, *callable);
    } else {
        const std::wstring why = L"no line takes phone numbers and carries a media type";
        report.NotApplicable(L"CreateCall: address type", why);
        report.NotApplicable(L"Disconnect of an idle call", why);
    }
    ObjectAgility(report, lines, callable);
}

}  // namespace fidelity
