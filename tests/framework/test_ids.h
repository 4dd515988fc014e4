// Resource ids of the framework tests' own dialog, pictures and strings.
#pragma once

#define IDD_FRAMEWORK_TEST 200
#define IDD_NOT_THERE 299

#define IDC_PICTURE 1000
#define IDC_PLAIN 1001
#define IDC_NOT_THERE 1099

#define IDB_RED 301
#define IDB_GREEN 302
#define IDB_BLUE 303
#define IDB_YELLOW 304
#define IDB_NOT_THERE 399

#define IDS_FIRST 400
#define IDS_SECOND 401
#define IDS_NOT_THERE 415

// A command no control sends: taken by the application's map.
#define ID_APP_COMMAND 0x7001
