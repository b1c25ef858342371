// The interface list every object built on the control bases answers, in
// the order its table looks them up, with their pointer identities and the
// interfaces it refuses.
#pragma once

#include <ole2.h>

struct Answered {
    const IID* iid;
    const char* name;
    const IID* samePointerAs;  // null: a pointer of its own
};
// In the order the table looks them up.
extern const Answered kAnswered[14];

// The interface's pointer (already released again: only for comparing).
void* Query(IUnknown* object, REFIID iid, HRESULT* hr);

void ExpectControlInterfaces(IUnknown* object);
// What a container reads from the class's registration: the status flags
// for the content aspect only, and the user type.
void ExpectRegisteredAnswers(IOleObject* object);
