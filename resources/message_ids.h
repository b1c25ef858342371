// Identifiers of the dialer's message texts (string table in messages.rc).
#pragma once

#define IDS_PROJNAME 100
#define IDS_UNKNOWN_ERROR 101
#define IDS_NO_VALID_ADDRESS 102
#define IDS_TRANSLATION_FAILED 103
#define IDS_TAPI_INIT_FAILED 104
#define IDS_DIALER_BUSY 105
