#include <gtest/gtest.h>

#include <wrl/client.h>

#include <string>
#include <vector>

#include "brevlin_idl.h"
#include "brevlin_library.h"
#include "comkit/bstr.h"
#include "support/hresult.h"

using comkit::UniqueBstr;
using component_test::BrevlinLibrary;
using Microsoft::WRL::ComPtr;

namespace {

struct Member {
    MEMBERID id;
    const wchar_t* name;
    INVOKEKIND kind;
    std::vector<std::pair<const wchar_t*, VARTYPE>> params;  // name, type (VT_BYREF for pointers)
    std::vector<USHORT> paramFlags;
    const wchar_t* help;
};

const Member kMembers[] = {
    {1, L"Connect", INVOKE_FUNC, {{L"bstrNumber", VT_BSTR}}, {PARAMFLAG_FIN}, L"method Connect"},
    {2, L"InitializeTAPI", INVOKE_FUNC, {}, {}, L"method InitializeTAPI"},
    {3, L"ShutdownTAPI", INVOKE_FUNC, {}, {}, L"method ShutdownTAPI"},
    {4, L"Disconnect", INVOKE_FUNC, {}, {}, L"method Disconnect"},
    {5,
     L"Connected",
     INVOKE_PROPERTYGET,
     {{L"pVal", VT_BOOL}},
     {PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
     L"property Connected"},
    {6,
     L"GetAddressNameCSVList",
     INVOKE_FUNC,
     {{L"strAddressNameCSVList", VT_BSTR}},
     {PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
     L"method GetAddressNameCSVList"},
    {7,
     L"ReadDeviceAddressFromFile",
     INVOKE_FUNC,
     {{L"strFileSpec", VT_BSTR}, {L"bSuccess", VT_BOOL}},
     {PARAMFLAG_FIN, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
     L"method ReadDeviceAddressFromFile"},
    {8,
     L"SetDeviceAddress",
     INVOKE_FUNC,
     {{L"strDeviceId", VT_BSTR}, {L"bSuccess", VT_BOOL}},
     {PARAMFLAG_FIN, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
     L"method SetDeviceAddress"},
};

std::wstring Doc(ITypeLib* lib, INT index, std::wstring* name = nullptr) {
    UniqueBstr n, doc, file;
    DWORD context = 1;
    EXPECT_HR(S_OK,
              lib->GetDocumentation(index, n.Receive(), doc.Receive(), &context, file.Receive()));
    EXPECT_EQ(context, 0u);
    EXPECT_FALSE(file) << "no help file";
    if (name)
        *name = n ? n.Get() : L"";
    return doc ? doc.Get() : L"";
}

// The type info implements as its implemented type number index (-1: the
// vtable half of a dual interface).
ComPtr<ITypeInfo> Implemented(ITypeInfo* info, UINT index) {
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> type;
    EXPECT_HR(S_OK, info->GetRefTypeOfImplType(index, &ref));
    EXPECT_HR(S_OK, info->GetRefTypeInfo(ref, &type));
    return type;
}

GUID GuidOf(ITypeInfo* type) {
    TYPEATTR* attr = nullptr;
    if (FAILED(type->GetTypeAttr(&attr)))
        return GUID_NULL;
    const GUID guid = attr->guid;
    type->ReleaseTypeAttr(attr);
    return guid;
}

class TypeLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, LoadTypeLibEx(BrevlinLibrary::BuiltPath().c_str(), REGKIND_NONE, &m_lib));
    }
    // The kind, documentation string and name of the library's type at index.
    void ExpectType(UINT index, TYPEKIND kind, const wchar_t* doc, const wchar_t* name) {
        TYPEKIND found;
        ASSERT_HR(S_OK, m_lib->GetTypeInfoType(index, &found));
        EXPECT_EQ(found, kind);
        std::wstring foundName;
        EXPECT_EQ(Doc(m_lib.Get(), index, &foundName), doc);
        EXPECT_EQ(foundName, name);
    }
    ComPtr<ITypeLib> m_lib;
};

TEST_F(TypeLibraryTest, LibraryAttributes) {
    TLIBATTR* attr = nullptr;
    ASSERT_HR(S_OK, m_lib->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_BREVLINLib));
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    // The loader adds LIBFLAG_FHASDISKIMAGE to every library it reads from a file.
    EXPECT_EQ(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0);
    EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    m_lib->ReleaseTLibAttr(attr);
    std::wstring name;
    EXPECT_EQ(Doc(m_lib.Get(), -1, &name), L"Brevlin 1.0 Type Library");
    EXPECT_EQ(name, L"BREVLINLib");
    EXPECT_EQ(m_lib->GetTypeInfoCount(), 2u);
}

TEST_F(TypeLibraryTest, TheClassComesFirstCreatableOnlyWithItsDefaultInterface) {
    ASSERT_NO_FATAL_FAILURE(ExpectType(0, TKIND_COCLASS, L"TAPIDialer Class", L"TAPIDialer"));
    ComPtr<ITypeInfo> info;
    ASSERT_HR(S_OK, m_lib->GetTypeInfo(0, &info));
    TYPEATTR* attr = nullptr;
    ASSERT_HR(S_OK, info->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_TAPIDialer));
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attr->cImplTypes, 1);
    info->ReleaseTypeAttr(attr);
    INT implFlags = 0;
    ASSERT_HR(S_OK, info->GetImplTypeFlags(0, &implFlags));
    EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
    ComPtr<ITypeInfo> impl = Implemented(info.Get(), 0);
    ASSERT_TRUE(impl);
    EXPECT_TRUE(IsEqualGUID(GuidOf(impl.Get()), IID_ITAPIDialer));
}

TEST_F(TypeLibraryTest, TheInterfaceIsDualAutomationDispatchableAndDerivesFromIDispatch) {
    ASSERT_NO_FATAL_FAILURE(
        ExpectType(1, TKIND_DISPATCH, L"ITAPIDialer Interface", L"ITAPIDialer"));
    ComPtr<ITypeInfo> dispatch;
    ASSERT_HR(S_OK, m_lib->GetTypeInfoOfGuid(IID_ITAPIDialer, &dispatch));
    TYPEATTR* attr = nullptr;
    ASSERT_HR(S_OK, dispatch->GetTypeAttr(&attr));
    // The library stores 0x1140 once for both halves; the loader reports the
    // dispatch half without TYPEFLAG_FOLEAUTOMATION, as the platform does.
    EXPECT_EQ(attr->wTypeFlags & ~TYPEFLAG_FOLEAUTOMATION, TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE)
        << std::hex << attr->wTypeFlags;
    EXPECT_EQ(attr->cFuncs, 15) << "IUnknown, IDispatch and the eight members";
    dispatch->ReleaseTypeAttr(attr);

    // The vtable half of the dual interface.
    ComPtr<ITypeInfo> vtable = Implemented(dispatch.Get(), -1);
    ASSERT_TRUE(vtable);
    ASSERT_HR(S_OK, vtable->GetTypeAttr(&attr));
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags, 0x1140) << std::hex << attr->wTypeFlags;
    EXPECT_EQ(attr->cFuncs, 8);
    EXPECT_EQ(attr->cbSizeVft, 15 * sizeof(void*));
    EXPECT_EQ(attr->cImplTypes, 1);
    vtable->ReleaseTypeAttr(attr);
    ComPtr<ITypeInfo> base = Implemented(vtable.Get(), 0);
    ASSERT_TRUE(base);
    EXPECT_TRUE(IsEqualGUID(GuidOf(base.Get()), IID_IDispatch));
}

TEST_F(TypeLibraryTest, MembersInDispidAndSlotOrderWithTheirParameters) {
    ComPtr<ITypeInfo> dispatch;
    ASSERT_HR(S_OK, m_lib->GetTypeInfoOfGuid(IID_ITAPIDialer, &dispatch));
    ComPtr<ITypeInfo> vtable = Implemented(dispatch.Get(), -1);
    ASSERT_TRUE(vtable);

    for (UINT index = 0; index < 8; ++index) {
        const Member& m = kMembers[index];
        SCOPED_TRACE(testing::Message() << "member " << m.id);
        FUNCDESC* f = nullptr;
        ASSERT_HR(S_OK, vtable->GetFuncDesc(index, &f));
        EXPECT_EQ(f->memid, m.id);
        EXPECT_EQ(f->invkind, m.kind);
        EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(f->callconv, CC_STDCALL);
        EXPECT_EQ(f->wFuncFlags, 0);
        EXPECT_EQ(f->cParamsOpt, 0);
        EXPECT_EQ(f->oVft, static_cast<SHORT>((m.id + 6) * sizeof(void*)));
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        ASSERT_EQ(f->cParams, static_cast<SHORT>(m.params.size()));
        for (SHORT p = 0; p < f->cParams; ++p) {
            const ELEMDESC& e = f->lprgelemdescParam[p];
            EXPECT_EQ(e.paramdesc.wParamFlags, m.paramFlags[p]) << "parameter " << p;
            const bool out = (m.paramFlags[p] & PARAMFLAG_FOUT) != 0;
            if (out) {
                ASSERT_EQ(e.tdesc.vt, VT_PTR);
                EXPECT_EQ(e.tdesc.lptdesc->vt, m.params[p].second);
            } else {
                EXPECT_EQ(e.tdesc.vt, m.params[p].second);
            }
        }
        vtable->ReleaseFuncDesc(f);

        UniqueBstr names[3];
        UINT count = 0;
        BSTR raw[3] = {};
        ASSERT_HR(S_OK, vtable->GetNames(m.id, raw, 3, &count));
        for (UINT i = 0; i < count; ++i)
            names[i].Reset(raw[i]);
        ASSERT_EQ(count, 1 + m.params.size());
        EXPECT_STREQ(names[0].Get(), m.name);
        for (size_t p = 0; p < m.params.size(); ++p)
            EXPECT_STREQ(names[p + 1].Get(), m.params[p].first);

        UniqueBstr help;
        ASSERT_HR(S_OK, vtable->GetDocumentation(m.id, nullptr, help.Receive(), nullptr, nullptr));
        EXPECT_STREQ(help.Get(), m.help);
    }
}

TEST_F(TypeLibraryTest, ConnectedHasNoPutAccessor) {
    ComPtr<ITypeInfo> dispatch;
    ASSERT_HR(S_OK, m_lib->GetTypeInfoOfGuid(IID_ITAPIDialer, &dispatch));
    ComPtr<ITypeComp> comp;
    ASSERT_HR(S_OK, dispatch->GetTypeComp(&comp));
    TYPEATTR* attr = nullptr;
    ASSERT_HR(S_OK, dispatch->GetTypeAttr(&attr));
    const WORD funcs = attr->cFuncs;
    dispatch->ReleaseTypeAttr(attr);
    int accessors = 0;
    for (WORD i = 0; i < funcs; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_HR(S_OK, dispatch->GetFuncDesc(i, &f));
        if (f->memid == 5) {
            ++accessors;
            EXPECT_EQ(f->invkind, INVOKE_PROPERTYGET);
        }
        dispatch->ReleaseFuncDesc(f);
    }
    EXPECT_EQ(accessors, 1);
}

}  // namespace
