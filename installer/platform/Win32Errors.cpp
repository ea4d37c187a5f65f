#include "platform/Win32Errors.h"

#include <string_view>

namespace platform {

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

struct ErrorEntry {
  DWORD code;
  const wchar_t* name;
  const wchar_t* text;
};

// English system texts of the codes the installer and the machine layer report.
constexpr ErrorEntry kErrors[] = {
    {0, L"ERROR_SUCCESS", L"The operation completed successfully."},
    {1, L"ERROR_INVALID_FUNCTION", L"Incorrect function."},
    {2, L"ERROR_FILE_NOT_FOUND", L"The system cannot find the file specified."},
    {3, L"ERROR_PATH_NOT_FOUND", L"The system cannot find the path specified."},
    {4, L"ERROR_TOO_MANY_OPEN_FILES", L"The system cannot open the file."},
    {5, L"ERROR_ACCESS_DENIED", L"Access is denied."},
    {6, L"ERROR_INVALID_HANDLE", L"The handle is invalid."},
    {8, L"ERROR_NOT_ENOUGH_MEMORY",
     L"Not enough memory resources are available to process this command."},
    {10, L"ERROR_BAD_ENVIRONMENT", L"The environment is incorrect."},
    {11, L"ERROR_BAD_FORMAT", L"An attempt was made to load a program with an incorrect format."},
    {12, L"ERROR_INVALID_ACCESS", L"The access code is invalid."},
    {13, L"ERROR_INVALID_DATA", L"The data is invalid."},
    {14, L"ERROR_OUTOFMEMORY",
     L"Not enough memory resources are available to complete this operation."},
    {15, L"ERROR_INVALID_DRIVE", L"The system cannot find the drive specified."},
    {16, L"ERROR_CURRENT_DIRECTORY", L"The directory cannot be removed."},
    {17, L"ERROR_NOT_SAME_DEVICE", L"The system cannot move the file to a different disk drive."},
    {18, L"ERROR_NO_MORE_FILES", L"There are no more files."},
    {19, L"ERROR_WRITE_PROTECT", L"The media is write protected."},
    {21, L"ERROR_NOT_READY", L"The device is not ready."},
    {23, L"ERROR_CRC", L"Data error (cyclic redundancy check)."},
    {25, L"ERROR_SEEK", L"The drive cannot locate a specific area or track on the disk."},
    {29, L"ERROR_WRITE_FAULT", L"The system cannot write to the specified device."},
    {30, L"ERROR_READ_FAULT", L"The system cannot read from the specified device."},
    {31, L"ERROR_GEN_FAILURE", L"A device attached to the system is not functioning."},
    {32, L"ERROR_SHARING_VIOLATION",
     L"The process cannot access the file because it is being used by another process."},
    {33, L"ERROR_LOCK_VIOLATION",
     L"The process cannot access the file because another process has locked a portion of the "
     L"file."},
    {38, L"ERROR_HANDLE_EOF", L"Reached the end of the file."},
    {39, L"ERROR_HANDLE_DISK_FULL", L"The disk is full."},
    {50, L"ERROR_NOT_SUPPORTED", L"The request is not supported."},
    {53, L"ERROR_BAD_NETPATH", L"The network path was not found."},
    {65, L"ERROR_NETWORK_ACCESS_DENIED", L"Network access is denied."},
    {67, L"ERROR_BAD_NET_NAME", L"The network name cannot be found."},
    {80, L"ERROR_FILE_EXISTS", L"The file exists."},
    {82, L"ERROR_CANNOT_MAKE", L"The directory or file cannot be created."},
    {87, L"ERROR_INVALID_PARAMETER", L"The parameter is incorrect."},
    {109, L"ERROR_BROKEN_PIPE", L"The pipe has been ended."},
    {110, L"ERROR_OPEN_FAILED", L"The system cannot open the device or file specified."},
    {111, L"ERROR_BUFFER_OVERFLOW", L"The file name is too long."},
    {112, L"ERROR_DISK_FULL", L"There is not enough space on the disk."},
    {120, L"ERROR_CALL_NOT_IMPLEMENTED", L"This function is not supported on this system."},
    {122, L"ERROR_INSUFFICIENT_BUFFER", L"The data area passed to a system call is too small."},
    {123, L"ERROR_INVALID_NAME",
     L"The filename, directory name, or volume label syntax is incorrect."},
    {124, L"ERROR_INVALID_LEVEL", L"The system call level is not correct."},
    {126, L"ERROR_MOD_NOT_FOUND", L"The specified module could not be found."},
    {127, L"ERROR_PROC_NOT_FOUND", L"The specified procedure could not be found."},
    {131, L"ERROR_NEGATIVE_SEEK",
     L"An attempt was made to move the file pointer before the beginning of the file."},
    {145, L"ERROR_DIR_NOT_EMPTY", L"The directory is not empty."},
    {148, L"ERROR_PATH_BUSY", L"The path specified cannot be used at this time."},
    {161, L"ERROR_BAD_PATHNAME", L"The specified path is invalid."},
    {170, L"ERROR_BUSY", L"The requested resource is in use."},
    {183, L"ERROR_ALREADY_EXISTS", L"Cannot create a file when that file already exists."},
    {193, L"ERROR_BAD_EXE_FORMAT", L"%1 is not a valid Win32 application."},
    {203, L"ERROR_ENVVAR_NOT_FOUND",
     L"The system could not find the environment option that was entered."},
    {206, L"ERROR_FILENAME_EXCED_RANGE", L"The filename or extension is too long."},
    {223, L"ERROR_FILE_TOO_LARGE", L"The file size exceeds the limit allowed and cannot be saved."},
    {234, L"ERROR_MORE_DATA", L"More data is available."},
    {259, L"ERROR_NO_MORE_ITEMS", L"No more data is available."},
    {267, L"ERROR_DIRECTORY", L"The directory name is invalid."},
    {681, L"ERROR_STOPPED_ON_SYMLINK",
     L"The create operation stopped after reaching a symbolic link."},
    {740, L"ERROR_ELEVATION_REQUIRED", L"The requested operation requires elevation."},
    {1004, L"ERROR_INVALID_FLAGS", L"Invalid flags."},
    {1005, L"ERROR_UNRECOGNIZED_VOLUME",
     L"The volume does not contain a recognized file system.\r\nPlease make sure that all required "
     L"file system drivers are loaded and that the volume is not corrupted."},
    {1008, L"ERROR_NO_TOKEN", L"An attempt was made to reference a token that does not exist."},
    {1009, L"ERROR_BADDB", L"The configuration registry database is corrupt."},
    {1010, L"ERROR_BADKEY", L"The configuration registry key is invalid."},
    {1011, L"ERROR_CANTOPEN", L"The configuration registry key could not be opened."},
    {1012, L"ERROR_CANTREAD", L"The configuration registry key could not be read."},
    {1013, L"ERROR_CANTWRITE", L"The configuration registry key could not be written."},
    {1015, L"ERROR_REGISTRY_CORRUPT",
     L"The registry is corrupted. The structure of one of the files containing registry data is "
     L"corrupted, or the system's memory image of the file is corrupted, or the file could not be "
     L"recovered because the alternate copy or log was absent or corrupted."},
    {1016, L"ERROR_REGISTRY_IO_FAILED",
     L"An I/O operation initiated by the registry failed unrecoverably. The registry could not "
     L"read in, or write out, or flush, one of the files that contain the system's image of the "
     L"registry."},
    {1018, L"ERROR_KEY_DELETED",
     L"Illegal operation attempted on a registry key that has been marked for deletion."},
    {1021, L"ERROR_CHILD_MUST_BE_VOLATILE",
     L"Cannot create a stable subkey under a volatile parent key."},
    {1060, L"ERROR_SERVICE_DOES_NOT_EXIST",
     L"The specified service does not exist as an installed service."},
    {1113, L"ERROR_NO_UNICODE_TRANSLATION",
     L"No mapping for the Unicode character exists in the target multi-byte code page."},
    {1115, L"ERROR_SHUTDOWN_IN_PROGRESS", L"A system shutdown is in progress."},
    {1168, L"ERROR_NOT_FOUND", L"Element not found."},
    {1223, L"ERROR_CANCELLED", L"The operation was canceled by the user."},
    {1300, L"ERROR_NOT_ALL_ASSIGNED",
     L"Not all privileges or groups referenced are assigned to the caller."},
    {1305, L"ERROR_UNKNOWN_REVISION", L"The revision level is unknown."},
    {1306, L"ERROR_REVISION_MISMATCH", L"Indicates two revision levels are incompatible."},
    {1307, L"ERROR_INVALID_OWNER",
     L"This security ID may not be assigned as the owner of this object."},
    {1309, L"ERROR_NO_IMPERSONATION_TOKEN",
     L"An attempt has been made to operate on an impersonation token by a thread that is not "
     L"currently impersonating a client."},
    {1312, L"ERROR_NO_SUCH_LOGON_SESSION",
     L"A specified logon session does not exist. It may already have been terminated."},
    {1313, L"ERROR_NO_SUCH_PRIVILEGE", L"A specified privilege does not exist."},
    {1314, L"ERROR_PRIVILEGE_NOT_HELD", L"A required privilege is not held by the client."},
    {1317, L"ERROR_NO_SUCH_USER", L"The specified account does not exist."},
    {1319, L"ERROR_NO_SUCH_GROUP", L"The specified group does not exist."},
    {1332, L"ERROR_NONE_MAPPED", L"No mapping between account names and security IDs was done."},
    {1336, L"ERROR_INVALID_ACL", L"The access control list (ACL) structure is invalid."},
    {1337, L"ERROR_INVALID_SID", L"The security ID structure is invalid."},
    {1338, L"ERROR_INVALID_SECURITY_DESCR", L"The security descriptor structure is invalid."},
    {1355, L"ERROR_NO_SUCH_DOMAIN",
     L"The specified domain either does not exist or could not be contacted."},
    {1392, L"ERROR_FILE_CORRUPT", L"The file or directory is corrupted and unreadable."},
    {1602, L"ERROR_INSTALL_USEREXIT", L"User cancelled installation."},
    {1603, L"ERROR_INSTALL_FAILURE", L"Fatal error during installation."},
    {1605, L"ERROR_UNKNOWN_PRODUCT",
     L"This action is only valid for products that are currently installed."},
    {1610, L"ERROR_BAD_CONFIGURATION",
     L"The configuration data for this product is corrupt.  Contact your support personnel."},
    {1619, L"ERROR_INSTALL_PACKAGE_OPEN_FAILED",
     L"This installation package could not be opened.  Verify that the package exists and that you "
     L"can access it, or contact the application vendor to verify that this is a valid Windows "
     L"Installer package."},
    {1641, L"ERROR_SUCCESS_REBOOT_INITIATED",
     L"The requested operation completed successfully.  The system will be restarted so the "
     L"changes can take effect."},
    {1722, L"RPC_S_SERVER_UNAVAILABLE", L"The RPC server is unavailable."},
    {1920, L"ERROR_CANT_ACCESS_FILE", L"The file cannot be accessed by the system."},
    {1921, L"ERROR_CANT_RESOLVE_FILENAME",
     L"The name of the file cannot be resolved by the system."},
    {2114, L"NERR_ServerNotStarted", L"The Server service is not started."},
    {2116, L"NERR_UnknownDevDir", L"The device or directory does not exist."},
    {2118, L"NERR_DuplicateShare", L"The share name entered is already in use on this server."},
    {2220, L"NERR_GroupNotFound", L"The group name could not be found."},
    {2221, L"NERR_UserNotFound", L"The user name could not be found."},
    {2310, L"NERR_NetNameNotFound", L"This shared resource does not exist."},
    {2311, L"NERR_DeviceNotShared", L"The device is not shared."},
    {2351, L"NERR_InvalidComputer", L"This computer name is invalid."},
    {3010, L"ERROR_SUCCESS_REBOOT_REQUIRED",
     L"The requested operation is successful.  Changes will not be effective until the system is "
     L"rebooted."},
};

const ErrorEntry* FindError(DWORD code) {
  for (const ErrorEntry& e : kErrors)
    if (e.code == code) return &e;
  return nullptr;
}

}  // namespace

void SetLastError(DWORD code) { t_lastError = code; }
DWORD GetLastError() { return t_lastError; }

std::wstring FormatMessageW(DWORD code) {
  const ErrorEntry* e = FindError(code);
  if (!e) return std::wstring();
  return std::wstring(e->text) + L"\r\n";
}

std::wstring SystemErrorText(DWORD code) {
  const ErrorEntry* e = FindError(code);
  if (!e) return L"Unknown error " + std::to_wstring(code) + L".";
  return e->text;
}

std::wstring ErrorName(DWORD code) {
  const ErrorEntry* e = FindError(code);
  if (!e) return std::to_wstring(code);
  return e->name;
}

}  // namespace platform
