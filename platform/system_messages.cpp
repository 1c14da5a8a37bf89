// The same on every system: our own text for every error code the system
// can meet, used where the system has no text of its own.
#include "platform/code_page.h"
#include "platform/last_error.h"

namespace plat {

WString SystemMessageText(uint32_t code) {
  const char* text = nullptr;
  switch (code) {
    case ERROR_SUCCESS: text = "The operation completed successfully."; break;
    case ERROR_INVALID_FUNCTION: text = "The function is not valid."; break;
    case ERROR_FILE_NOT_FOUND: text = "The file could not be found."; break;
    case ERROR_PATH_NOT_FOUND: text = "The path could not be found."; break;
    case ERROR_TOO_MANY_OPEN_FILES: text = "Too many files are open."; break;
    case ERROR_ACCESS_DENIED: text = "Access was denied."; break;
    case ERROR_INVALID_HANDLE: text = "The handle is not valid."; break;
    case ERROR_NOT_ENOUGH_MEMORY: text = "There is not enough memory to complete the operation."; break;
    case ERROR_BAD_FORMAT: text = "The program has a format that cannot be run."; break;
    case ERROR_INVALID_DATA: text = "The data are not valid."; break;
    case ERROR_OUTOFMEMORY: text = "There is not enough memory to complete the operation."; break;
    case ERROR_CURRENT_DIRECTORY: text = "The current directory cannot be removed."; break;
    case ERROR_NOT_SAME_DEVICE: text = "The file cannot be moved to another device."; break;
    case ERROR_NO_MORE_FILES: text = "There are no more files."; break;
    case ERROR_WRITE_PROTECT: text = "The medium is write-protected."; break;
    case ERROR_NOT_READY: text = "The device is not ready."; break;
    case ERROR_SEEK: text = "The position in the file cannot be set."; break;
    case ERROR_WRITE_FAULT: text = "The device could not be written."; break;
    case ERROR_READ_FAULT: text = "The device could not be read."; break;
    case ERROR_GEN_FAILURE: text = "A device attached to the system is not working."; break;
    case ERROR_SHARING_VIOLATION: text = "The file is in use by another process."; break;
    case ERROR_LOCK_VIOLATION: text = "Another process has locked a portion of the file."; break;
    case ERROR_HANDLE_EOF: text = "The end of the file was reached."; break;
    case ERROR_HANDLE_DISK_FULL: text = "The disk is full."; break;
    case ERROR_NOT_SUPPORTED: text = "The request is not supported."; break;
    case ERROR_FILE_EXISTS: text = "The file exists."; break;
    case ERROR_CANNOT_MAKE: text = "The directory or file cannot be created."; break;
    case ERROR_INVALID_PARAMETER: text = "A parameter is not valid."; break;
    case ERROR_BROKEN_PIPE: text = "The pipe has been ended."; break;
    case ERROR_OPEN_FAILED: text = "The file or device could not be opened."; break;
    case ERROR_BUFFER_OVERFLOW: text = "The file name is too long."; break;
    case ERROR_DISK_FULL: text = "There is not enough space on the disk."; break;
    case ERROR_CALL_NOT_IMPLEMENTED: text = "This function is not supported on this system."; break;
    case ERROR_INSUFFICIENT_BUFFER: text = "The data area passed to a system call is too small."; break;
    case ERROR_INVALID_NAME: text = "The file name, directory name or volume label syntax is not valid."; break;
    case ERROR_MOD_NOT_FOUND: text = "The specified module could not be found."; break;
    case ERROR_PROC_NOT_FOUND: text = "The specified procedure could not be found."; break;
    case ERROR_WAIT_NO_CHILDREN: text = "There are no child processes to wait for."; break;
    case ERROR_DIR_NOT_EMPTY: text = "The directory is not empty."; break;
    case ERROR_BUSY: text = "The requested resource is in use."; break;
    case ERROR_BAD_EXE_FORMAT: text = "The file is not a valid program or library for this system."; break;
    case ERROR_ALREADY_EXISTS: text = "The file cannot be created because it already exists."; break;
    case ERROR_FILENAME_EXCED_RANGE: text = "The file name or extension is too long."; break;
    case ERROR_STOPPED_ON_SYMLINK: text = "The operation stopped at a symbolic link or junction, which is not followed."; break;
    case ERROR_DIRECTORY: text = "The directory name is not valid."; break;
    case ERROR_NO_UNICODE_TRANSLATION: text = "No mapping for the Unicode character exists in the target code page."; break;
    case ERROR_NOT_FOUND: text = "Element not found."; break;
    case ERROR_CANT_RESOLVE_FILENAME: text = "The name of the file cannot be resolved by the system."; break;
    case ERROR_PRIVILEGE_NOT_HELD: text = "A required privilege is not held by the client."; break;
    case ERROR_NOT_ALL_ASSIGNED: text = "Not all privileges or groups referenced are assigned to the caller."; break;
    case ERROR_INSTALL_USEREXIT: text = "The installation was cancelled by the user."; break;
    case ERROR_INSTALL_FAILURE: text = "A fatal error occurred during installation."; break;
    case ERROR_SUCCESS_REBOOT_INITIATED: text = "The requested operation is successful. The system is being restarted to complete it."; break;
    case ERROR_SUCCESS_REBOOT_REQUIRED: text = "The requested operation is successful. Changes will not be effective until the system is restarted."; break;
    default: return {};
  }
  WString out = Utf8ToUtf16(text);
  out += u"\r\n";
  return out;
}

}  // namespace plat
