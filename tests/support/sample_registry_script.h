// A registry script in the shape of the component's own: CR LF line ends,
// tabs, a ProgID with a doubled quote in its text, NoRemove and ForceRemove
// keys, the module path twice, a DWORD value.
#pragma once

namespace test_support {

// The class key below HKEY_CLASSES_ROOT that the script force-removes.
inline constexpr wchar_t kSampleClassKey[] = L"CLSID\\{11111111-2222-3333-4444-555555555555}";

inline constexpr char kSampleRegistryScript[] =
    "HKCR\r\n"
    "{\r\n"
    "\tSample.Thing.1 = s 'Sample ''quoted'' Thing'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{11111111-2222-3333-4444-555555555555}'\r\n"
    "\t}\r\n"
    "\tNoRemove CLSID\r\n"
    "\t{\r\n"
    "\t\tForceRemove {11111111-2222-3333-4444-555555555555} = s 'Sample Thing'\r\n"
    "\t\t{\r\n"
    "\t\t\tForceRemove 'Programmable'\r\n"
    "\t\t\tInprocServer32 = s '%MODULE%'\r\n"
    "\t\t\t{\r\n"
    "\t\t\t\tval ThreadingModel = s 'Both'\r\n"
    "\t\t\t}\r\n"
    "\t\t\tForceRemove 'ToolboxBitmap32' = s '%module%, 101'\r\n"
    "\t\t\t'MiscStatus' = s '0'\r\n"
    "\t\t\t{\r\n"
    "\t\t\t\t'1' = s '132497'\r\n"
    "\t\t\t}\r\n"
    "\t\t\tFlags = d '17'\r\n"
    "\t\t}\r\n"
    "\t}\r\n"
    "}\r\n";

}  // namespace test_support
