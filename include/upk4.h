/* upk4: read-only ZIP unpacker behind four exported functions.
 *
 * Load the library by path and bind the functions by name, or link it.
 * Strings are null-terminated UTF-16, owned by the caller and read only
 * during the call. */
#ifndef UPK4_H
#define UPK4_H

#include <stdint.h>

#if defined(_WIN32)
#define UPK4_CALL __stdcall
#if defined(UPK4_BUILDING)
#define UPK4_API __declspec(dllexport)
#else
#define UPK4_API __declspec(dllimport)
#endif
#else
#define UPK4_CALL
#define UPK4_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
typedef char16_t upk4_char16;
#else
typedef uint16_t upk4_char16;
#endif

typedef struct ArchiveHandle ArchiveHandle;

/* Open flags: the first bit set decides how the archive's name is formed. */
#define UPK4_OPEN_PATTERN1 1u /* path is a pattern formatted with 1 */
#define UPK4_OPEN_PATTERN2 2u /* path is a pattern formatted with 1, 1 */
#define UPK4_OPEN_PLAIN 4u    /* path as it is */

/* Unpack flags. */
#define UPK4_UNPACK_MISSING_OK 1u /* a missing entry is not an error */
/* fileName (or the entry's own name) is a relative path below destDir: its
 * directories are made there, and nothing below destDir is ever passed
 * through a symbolic link or junction (681, ERROR_STOPPED_ON_SYMLINK). */
#define UPK4_UNPACK_FULL_PATH 2u

/* Window messages sent and posted during extraction. */
#define UPK4_MSG_SETPOS 1026u /* to progressWindow: position 0..65535 */
#define UPK4_MSG_NOTIFY 2224u /* to notifyWindow: lParam = progressBase */

/* Opens an archive; null after showing a message on failure. */
UPK4_API ArchiveHandle* UPK4_CALL UPK4_Open(const upk4_char16* path, int32_t callerValue1,
                                            int32_t callerValue2, const upk4_char16* password,
                                            uint32_t flags);
/* Extracts one entry into destDir under the name part of fileName (or of the
 * entry's own name when fileName is null). 0 success, 2 no such entry,
 * -2 damaged data / wrong password / CRC mismatch / I/O failure, any other
 * positive value a system error code (the system's "file not found" as 3, so
 * that it never reads as a missing entry); 123 (ERROR_INVALID_NAME) when the
 * name part is empty, "." or "..", so that the file would not land inside
 * destDir, and on Windows for a name that Windows gives another meaning (a
 * ":" stream, a device name such as CON or nul.txt, a trailing dot or
 * blank); 206 (ERROR_FILENAME_EXCED_RANGE) for a name component longer than
 * 255 characters, never cut. An extraction that fails is never reported as 0. */
UPK4_API int32_t UPK4_CALL UPK4_Unpack(ArchiveHandle* handle, const upk4_char16* entryName,
                                       const upk4_char16* destDir, const upk4_char16* fileName,
                                       uint32_t flags);
/* Closes and frees the handle; nonzero when the close raised an error. */
UPK4_API uint8_t UPK4_CALL UPK4_Close(ArchiveHandle* handle);
/* Routes progress of later extractions to two windows (HWND on Windows). */
UPK4_API void UPK4_CALL UPK4_SetProgress(void* progressWindow, void* notifyWindow,
                                         int32_t progressBase, uint32_t progressTotal);

typedef ArchiveHandle*(UPK4_CALL* UPK4_Open_t)(const upk4_char16*, int32_t, int32_t,
                                                const upk4_char16*, uint32_t);
typedef int32_t(UPK4_CALL* UPK4_Unpack_t)(ArchiveHandle*, const upk4_char16*,
                                           const upk4_char16*, const upk4_char16*, uint32_t);
typedef uint8_t(UPK4_CALL* UPK4_Close_t)(ArchiveHandle*);
typedef void(UPK4_CALL* UPK4_SetProgress_t)(void*, void*, int32_t, uint32_t);

#ifdef __cplusplus
}
#endif
#endif /* UPK4_H */
