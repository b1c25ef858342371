// Identifiers of the library's own resources (the message texts have theirs
// in message_ids.h).
#pragma once

#define IDB_TAPIDIALER 101  // BITMAP: the toolbox bitmap
#define IDR_TAPIDIALER 103  // REGISTRY: the class's registry script
