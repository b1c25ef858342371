// The operations of the service, by stable name: what the recorder records
// and what a fault (in code or in a scenario's [Faults]) is given for.
#pragma once

// The one list: each operation's identifier in namespace op and its name.
// Queries for the optional interfaces are operations too: they can be made
// to fail (a failing query hands out null), and they are recorded as
// queries (see Recorder::Operations).
#define TELSIM_OPERATIONS(X)                                                               \
    X(Initialize, L"ITTAPI::Initialize")                                                   \
    X(Shutdown, L"ITTAPI::Shutdown")                                                       \
    X(EnumerateAddresses, L"ITTAPI::EnumerateAddresses")                                   \
    X(PutEventFilter, L"ITTAPI::put_EventFilter")                                          \
    X(RegisterCallNotifications, L"ITTAPI::RegisterCallNotifications")                     \
    X(UnregisterNotifications, L"ITTAPI::UnregisterNotifications")                         \
    X(FindConnectionPoint, L"IConnectionPointContainer::FindConnectionPoint")              \
    X(Advise, L"IConnectionPoint::Advise")                                                 \
    X(Unadvise, L"IConnectionPoint::Unadvise")                                             \
    X(AddressNext, L"IEnumAddress::Next")                                                  \
    X(GetAddressName, L"ITAddress::get_AddressName")                                       \
    X(CreateCall, L"ITAddress::CreateCall")                                                \
    X(GetAddressCapability, L"ITAddressCapabilities::get_AddressCapability")               \
    X(QueryMediaType, L"ITMediaSupport::QueryMediaType")                                   \
    X(TranslateAddress, L"ITAddressTranslation::TranslateAddress")                         \
    X(GetDialableString, L"ITAddressTranslationInfo::get_DialableString")                  \
    X(GetDefaultStaticTerminal, L"ITTerminalSupport::GetDefaultStaticTerminal")            \
    X(CallConnect, L"ITBasicCallControl::Connect")                                         \
    X(CallDisconnect, L"ITBasicCallControl::Disconnect")                                   \
    X(EnumerateStreams, L"ITStreamControl::EnumerateStreams")                              \
    X(StreamNext, L"IEnumStream::Next")                                                    \
    X(StreamGetMediaType, L"ITStream::get_MediaType")                                      \
    X(StreamGetDirection, L"ITStream::get_Direction")                                      \
    X(SelectTerminal, L"ITStream::SelectTerminal")                                         \
    X(CallStateEventGetCall, L"ITCallStateEvent::get_Call")                                \
    X(CallNotificationEventGetCall, L"ITCallNotificationEvent::get_Call")                  \
    X(GetCallState, L"ITCallInfo::get_CallState")                                          \
    X(QueryConnectionPointContainer, L"ITTAPI::QueryInterface(IConnectionPointContainer)") \
    X(QueryCapabilities, L"ITAddress::QueryInterface(ITAddressCapabilities)")              \
    X(QueryMediaSupport, L"ITAddress::QueryInterface(ITMediaSupport)")                     \
    X(QueryTranslation, L"ITAddress::QueryInterface(ITAddressTranslation)")                \
    X(QueryTerminalSupport, L"ITAddress::QueryInterface(ITTerminalSupport)")               \
    X(QueryStreamControl, L"ITBasicCallControl::QueryInterface(ITStreamControl)")          \
    X(QueryCallStateEvent, L"IDispatch::QueryInterface(ITCallStateEvent)")                 \
    X(QueryCallNotificationEvent, L"IDispatch::QueryInterface(ITCallNotificationEvent)")

namespace telsim::op {

#define TELSIM_OPERATION_NAME(id, name) inline constexpr wchar_t id[] = name;
TELSIM_OPERATIONS(TELSIM_OPERATION_NAME)
#undef TELSIM_OPERATION_NAME

// Every operation a fault may be given for, in the order above.
#define TELSIM_OPERATION_ENTRY(id, name) id,
inline constexpr const wchar_t* kAll[] = {TELSIM_OPERATIONS(TELSIM_OPERATION_ENTRY)};
#undef TELSIM_OPERATION_ENTRY

// Not an operation of the service but recorded in order with them: each
// delivery to an advised sink, args "kind,state".
inline constexpr wchar_t SinkEvent[] = L"ITTAPIEventNotification::Event";

}  // namespace telsim::op
