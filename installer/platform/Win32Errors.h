// Win32 status codes, the per-thread last error and the system texts of the codes.
//
// Every operation of the machine layer returns one of these codes (ERROR_SUCCESS on success)
// and also stores it as the thread's last error, as the Windows functions of the same names do.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using DWORD = std::uint32_t;
using HRESULT = std::int32_t;

// Win32 error codes (winerror.h values).
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_BAD_ENVIRONMENT = 10;
inline constexpr DWORD ERROR_BAD_FORMAT = 11;
inline constexpr DWORD ERROR_INVALID_ACCESS = 12;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_OUTOFMEMORY = 14;
inline constexpr DWORD ERROR_INVALID_DRIVE = 15;
inline constexpr DWORD ERROR_CURRENT_DIRECTORY = 16;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_WRITE_PROTECT = 19;
inline constexpr DWORD ERROR_NOT_READY = 21;
inline constexpr DWORD ERROR_CRC = 23;
inline constexpr DWORD ERROR_SEEK = 25;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_LOCK_VIOLATION = 33;
inline constexpr DWORD ERROR_HANDLE_EOF = 38;
inline constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_BAD_NETPATH = 53;
inline constexpr DWORD ERROR_NETWORK_ACCESS_DENIED = 65;
inline constexpr DWORD ERROR_BAD_NET_NAME = 67;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_CANNOT_MAKE = 82;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BROKEN_PIPE = 109;
inline constexpr DWORD ERROR_OPEN_FAILED = 110;
inline constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_PATH_BUSY = 148;
inline constexpr DWORD ERROR_BAD_PATHNAME = 161;
inline constexpr DWORD ERROR_BUSY = 170;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
inline constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_DIRECTORY = 267;
inline constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;
inline constexpr DWORD ERROR_BADDB = 1009;
inline constexpr DWORD ERROR_BADKEY = 1010;
inline constexpr DWORD ERROR_CANTOPEN = 1011;
inline constexpr DWORD ERROR_CANTREAD = 1012;
inline constexpr DWORD ERROR_CANTWRITE = 1013;
inline constexpr DWORD ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr DWORD ERROR_REGISTRY_IO_FAILED = 1016;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;
inline constexpr DWORD ERROR_CHILD_MUST_BE_VOLATILE = 1021;
inline constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr DWORD ERROR_CANCELLED = 1223;
inline constexpr DWORD ERROR_INSTALL_USEREXIT = 1602;
inline constexpr DWORD ERROR_INSTALL_FAILURE = 1603;
inline constexpr DWORD ERROR_UNKNOWN_PRODUCT = 1605;
inline constexpr DWORD ERROR_BAD_CONFIGURATION = 1610;
inline constexpr DWORD ERROR_INSTALL_PACKAGE_OPEN_FAILED = 1619;
inline constexpr DWORD ERROR_SUCCESS_REBOOT_INITIATED = 1641;
inline constexpr DWORD ERROR_SUCCESS_REBOOT_REQUIRED = 3010;
inline constexpr DWORD ERROR_NOT_ALL_ASSIGNED = 1300;
inline constexpr DWORD ERROR_NONE_MAPPED = 1332;
inline constexpr DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;
inline constexpr DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;
inline constexpr DWORD ERROR_INVALID_SID = 1337;
inline constexpr DWORD ERROR_INVALID_ACL = 1336;
inline constexpr DWORD ERROR_INVALID_SECURITY_DESCR = 1338;
inline constexpr DWORD ERROR_NO_SUCH_USER = 1317;
inline constexpr DWORD ERROR_NO_SUCH_GROUP = 1319;
inline constexpr DWORD ERROR_NO_SUCH_DOMAIN = 1355;
inline constexpr DWORD ERROR_NO_TOKEN = 1008;
inline constexpr DWORD ERROR_INVALID_LEVEL = 124;
inline constexpr DWORD ERROR_NO_IMPERSONATION_TOKEN = 1309;
inline constexpr DWORD ERROR_NO_SUCH_LOGON_SESSION = 1312;
inline constexpr DWORD ERROR_INVALID_OWNER = 1307;
inline constexpr DWORD ERROR_REVISION_MISMATCH = 1306;
inline constexpr DWORD ERROR_UNKNOWN_REVISION = 1305;
inline constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;
inline constexpr DWORD ERROR_ELEVATION_REQUIRED = 740;
inline constexpr DWORD ERROR_SHUTDOWN_IN_PROGRESS = 1115;
inline constexpr DWORD ERROR_NOT_FOUND = 1168;
inline constexpr DWORD ERROR_UNRECOGNIZED_VOLUME = 1005;
inline constexpr DWORD ERROR_FILE_CORRUPT = 1392;
inline constexpr DWORD ERROR_CANT_ACCESS_FILE = 1920;
inline constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;
inline constexpr DWORD ERROR_STOPPED_ON_SYMLINK = 681;

// Network management status codes (lmerr.h).
inline constexpr DWORD NERR_Success = 0;
inline constexpr DWORD NERR_BASE = 2100;
inline constexpr DWORD NERR_NetNameNotFound = 2310;
inline constexpr DWORD NERR_DuplicateShare = 2118;
inline constexpr DWORD NERR_UnknownDevDir = 2116;
inline constexpr DWORD NERR_UserNotFound = 2221;
inline constexpr DWORD NERR_GroupNotFound = 2220;
inline constexpr DWORD NERR_InvalidComputer = 2351;
inline constexpr DWORD NERR_ServerNotStarted = 2114;
inline constexpr DWORD NERR_DeviceNotShared = 2311;

// HRESULT values used by the text conversions (VariantChangeType) and COM-style callers.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
inline constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);

// HRESULT_FROM_WIN32.
constexpr HRESULT HResultFromWin32(DWORD code) {
  return code == 0 ? 0 : static_cast<HRESULT>((code & 0x0000FFFFu) | 0x80070000u);
}

// The calling thread's last error (thread-local, 0 at thread start).
void SetLastError(DWORD code);
DWORD GetLastError();

// Stores `code` as the last error and returns it: `return Fail(ERROR_ACCESS_DENIED);`.
inline DWORD Fail(DWORD code) {
  SetLastError(code);
  return code;
}

// The system's English text for a status code, exactly as FormatMessageW with
// FORMAT_MESSAGE_FROM_SYSTEM gives it, including the final "\r\n"
// (ERROR_FILE_NOT_FOUND -> "The system cannot find the file specified.\r\n").
// Unknown codes give an empty string, as FormatMessageW fails for them.
std::wstring FormatMessageW(DWORD code);

// The same text without the final "\r\n"; for an unknown code "Unknown error <code>."
// Convenient for log lines.
std::wstring SystemErrorText(DWORD code);

// The symbolic name of a code ("ERROR_ACCESS_DENIED"), or its decimal value when unknown.
std::wstring ErrorName(DWORD code);

}  // namespace platform
