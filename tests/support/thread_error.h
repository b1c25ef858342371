// The thread's error object, as a host reads it after a failed call.
#pragma once

#include <windows.h>
#include <cguid.h>

#include <string>

namespace test_support {

struct ThreadError {
    bool present = false;
    std::wstring description;
    std::wstring source;
    GUID guid = GUID_NULL;
};

// Takes the error object off the thread (GetErrorInfo clears it).
ThreadError TakeThreadError();
// Installs an error object with this description, to see that it is left alone.
void SetThreadError(const wchar_t* description);

}  // namespace test_support
