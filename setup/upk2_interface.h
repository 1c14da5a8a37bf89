// The five entry points of the second-stage library upk2, bound by name from
// "upk2.dll" after the preparation. C linkage; stdcall on 32-bit Windows.
#pragma once
#include <stdint.h>

#if defined(_WIN32)
#define UPK2_CALL __stdcall
#define UPK2_API __declspec(dllexport)
#else
#define UPK2_CALL
#define UPK2_API __attribute__((visibility("default")))
#endif

extern "C" {
// setupPath and tempDir (ending in a backslash) are UTF-16. Result: 1 go on,
// 1602 cancelled by the user, 0 failure to report, other failure, quietly.
typedef int32_t(UPK2_CALL* UPKInit_t)(const char16_t* setupPath, const char16_t* tempDir,
                                      int32_t librarySum, int32_t initValue, int32_t reserved);
// Zero-terminated ANSI text of what went wrong, or null; not freed by Setup.
typedef const char*(UPK2_CALL* UPKInitGetErrors_t)(void);
// The last call into upk2, right before it is unloaded.
typedef void(UPK2_CALL* UPKExit_t)(void);
// Required to exist; never called.
typedef void(UPK2_CALL* UPKExpand_t)(void);
typedef void(UPK2_CALL* UPKInit3_t)(void);
}

// UPKInit's result for "go on: start the setup program".
inline constexpr int32_t kUpkInitGoOn = 1;

// Names in the order in which they are bound.
inline constexpr const char* kUpk2EntryNames[] = {"UPKExpand", "UPKInit", "UPKExit", "UPKInit3",
                                                  "UPKInitGetErrors"};
