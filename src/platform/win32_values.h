#pragma once
// Win32 numeric values that the system's algorithms use and that every backend keeps: error
// numbers, registry types and access masks, file attributes and creation dispositions, message
// box flags and answers, window messages, variant types and COM results.
//
// The names are the Windows SDK's, so the code reads as it would against Windows itself. A
// genuine Windows backend gets the same values from <windows.h> as macros; it must not include
// this header in a translation unit that includes <windows.h>.
#include <cstdint>

namespace tarvex::win {

// Error numbers (GetLastError, registry results).
inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_INVALID_FUNCTION = 1;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_INVALID_DATA = 13;
inline constexpr uint32_t ERROR_NO_MORE_FILES = 18;
inline constexpr uint32_t ERROR_NOT_READY = 21;
inline constexpr uint32_t ERROR_CRC = 23;
inline constexpr uint32_t ERROR_GEN_FAILURE = 31;
inline constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr uint32_t ERROR_HANDLE_EOF = 38;
inline constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr uint32_t ERROR_BAD_NETPATH = 53;
inline constexpr uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_DISK_FULL = 112;
inline constexpr uint32_t ERROR_SEM_TIMEOUT = 121;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr uint32_t ERROR_INVALID_NAME = 123;
inline constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
inline constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;
inline constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
inline constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr uint32_t ERROR_BAD_EXE_FORMAT = 193;
inline constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr uint32_t ERROR_MORE_DATA = 234;
inline constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr uint32_t ERROR_IO_DEVICE = 1117;
inline constexpr uint32_t ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr uint32_t ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr uint32_t ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr uint32_t ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr uint32_t ERROR_SERVICE_DISABLED = 1058;
inline constexpr uint32_t ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr uint32_t ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr uint32_t ERROR_TIMEOUT = 1460;

// Registry roots, value types and access masks.
inline constexpr uintptr_t HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr uintptr_t HKEY_CURRENT_USER = 0x80000001u;
inline constexpr uintptr_t HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr uintptr_t HKEY_USERS = 0x80000003u;

inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

inline constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr uint32_t KEY_NOTIFY = 0x0010;
inline constexpr uint32_t KEY_CREATE_LINK = 0x0020;
inline constexpr uint32_t KEY_WOW64_64KEY = 0x0100;
inline constexpr uint32_t KEY_WOW64_32KEY = 0x0200;
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

inline constexpr uint32_t REG_OPTION_NON_VOLATILE = 0;
inline constexpr uint32_t REG_CREATED_NEW_KEY = 1;
inline constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

// Files.
inline constexpr uint32_t GENERIC_READ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr uint32_t GENERIC_EXECUTE = 0x20000000u;
inline constexpr uint32_t GENERIC_ALL = 0x10000000u;
inline constexpr uint32_t STANDARD_RIGHTS_READ = 0x20000;  // READ_CONTROL
inline constexpr uint32_t STANDARD_RIGHTS_WRITE = 0x20000;
inline constexpr uint32_t STANDARD_RIGHTS_EXECUTE = 0x20000;
inline constexpr uint32_t FILE_READ_ATTRIBUTES = 0x0080;
inline constexpr uint32_t FILE_SHARE_READ = 1;
inline constexpr uint32_t FILE_SHARE_WRITE = 2;
inline constexpr uint32_t FILE_SHARE_DELETE = 4;
inline constexpr uint32_t CREATE_NEW = 1;
inline constexpr uint32_t CREATE_ALWAYS = 2;
inline constexpr uint32_t OPEN_EXISTING = 3;
inline constexpr uint32_t OPEN_ALWAYS = 4;
inline constexpr uint32_t TRUNCATE_EXISTING = 5;
inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr uint32_t FILE_ATTRIBUTE_DEVICE = 0x40;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
inline constexpr uint32_t INVALID_FILE_SIZE = 0xFFFFFFFFu;
inline constexpr uint32_t MAX_PATH = 260;

// Message boxes: button sets, icons and answers.
inline constexpr uint32_t MB_OK = 0x00;
inline constexpr uint32_t MB_OKCANCEL = 0x01;
inline constexpr uint32_t MB_YESNOCANCEL = 0x03;
inline constexpr uint32_t MB_YESNO = 0x04;
inline constexpr uint32_t MB_RETRYCANCEL = 0x05;
inline constexpr uint32_t MB_TYPEMASK = 0x0F;
inline constexpr uint32_t MB_ICONERROR = 0x10;
inline constexpr uint32_t MB_ICONQUESTION = 0x20;
inline constexpr uint32_t MB_ICONWARNING = 0x30;
inline constexpr uint32_t MB_ICONINFORMATION = 0x40;
inline constexpr uint32_t MB_ICONMASK = 0xF0;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDRETRY = 4;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Window messages.
inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_QUIT = 0x0012;
inline constexpr uint32_t WM_USER = 0x0400;

// Show commands for WinExec.
inline constexpr uint32_t SW_HIDE = 0;
inline constexpr uint32_t SW_SHOWNORMAL = 1;

// Variant types of WMI properties.
inline constexpr uint16_t VT_EMPTY = 0;
inline constexpr uint16_t VT_NULL = 1;
inline constexpr uint16_t VT_I2 = 2;
inline constexpr uint16_t VT_I4 = 3;
inline constexpr uint16_t VT_BSTR = 8;
inline constexpr uint16_t VT_BOOL = 11;
inline constexpr uint16_t VT_UI1 = 17;
inline constexpr uint16_t VT_UI2 = 18;
inline constexpr uint16_t VT_UI4 = 19;
inline constexpr uint16_t VT_I8 = 20;
inline constexpr uint16_t VT_UI8 = 21;
inline constexpr uint16_t VT_INT = 22;
inline constexpr uint16_t VT_UINT = 23;
inline constexpr uint16_t VT_ARRAY = 0x2000;

// COM and WMI results.
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t S_FALSE = 1;
inline constexpr int32_t WBEM_S_FALSE = 1;
inline constexpr int32_t WBEM_S_NO_MORE_DATA = 0x40005;
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t WBEM_E_FAILED = static_cast<int32_t>(0x80041001u);
inline constexpr int32_t WBEM_E_NOT_FOUND = static_cast<int32_t>(0x80041002u);
inline constexpr int32_t WBEM_E_INVALID_CLASS = static_cast<int32_t>(0x80041010u);
inline constexpr int32_t WBEM_E_INVALID_QUERY = static_cast<int32_t>(0x80041017u);
inline constexpr int32_t WBEM_E_INVALID_NAMESPACE = static_cast<int32_t>(0x8004100Eu);
inline constexpr int32_t WBEM_INFINITE = -1;

// Service control manager.
inline constexpr uint32_t SERVICE_BOOT_START = 0;
inline constexpr uint32_t SERVICE_SYSTEM_START = 1;
inline constexpr uint32_t SERVICE_AUTO_START = 2;
inline constexpr uint32_t SERVICE_DEMAND_START = 3;
inline constexpr uint32_t SERVICE_DISABLED = 4;
inline constexpr uint32_t SERVICE_NO_CHANGE = 0xFFFFFFFFu;
inline constexpr uint32_t SERVICE_STOPPED = 1;
inline constexpr uint32_t SERVICE_START_PENDING = 2;
inline constexpr uint32_t SERVICE_STOP_PENDING = 3;
inline constexpr uint32_t SERVICE_RUNNING = 4;
inline constexpr uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr uint32_t SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr uint32_t SERVICE_ACCEPT_STOP = 0x01;
inline constexpr uint32_t SC_MANAGER_CONNECT = 0x0001;
inline constexpr uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
inline constexpr uint32_t SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr uint32_t SERVICE_CHANGE_CONFIG = 0x0002;
inline constexpr uint32_t SERVICE_QUERY_STATUS = 0x0004;
inline constexpr uint32_t SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
inline constexpr uint32_t SERVICE_START = 0x0010;
inline constexpr uint32_t SERVICE_STOP = 0x0020;
inline constexpr uint32_t SERVICE_PAUSE_CONTINUE = 0x0040;
inline constexpr uint32_t SERVICE_INTERROGATE = 0x0080;
inline constexpr uint32_t SERVICE_USER_DEFINED_CONTROL = 0x0100;
inline constexpr uint32_t SERVICE_ALL_ACCESS = 0xF01FF;

// Processes, pipes and file moves.
inline constexpr uint32_t CREATE_NO_WINDOW = 0x08000000;
inline constexpr uint32_t NORMAL_PRIORITY_CLASS = 0x00000020;
inline constexpr uint32_t HANDLE_FLAG_INHERIT = 0x00000001;
inline constexpr uint32_t STARTF_USESTDHANDLES = 0x00000100;
inline constexpr uint32_t ERROR_BROKEN_PIPE = 109;
inline constexpr uint32_t MOVEFILE_REPLACE_EXISTING = 0x00000001;

// The configuration manager (cfgmgr32): CONFIGRET results and the flags of the device-tree calls.
inline constexpr uint32_t CR_SUCCESS = 0x00;
inline constexpr uint32_t CR_INVALID_POINTER = 0x03;
inline constexpr uint32_t CR_INVALID_FLAG = 0x04;
inline constexpr uint32_t CR_INVALID_DEVNODE = 0x05;
inline constexpr uint32_t CR_NO_SUCH_DEVNODE = 0x0D;
inline constexpr uint32_t CR_FAILURE = 0x13;
inline constexpr uint32_t CR_ACCESS_DENIED = 0x33;
inline constexpr uint32_t NUM_CR_RESULTS = 0x3B;  // one past the last CONFIGRET
inline constexpr uint32_t CM_LOCATE_DEVNODE_NORMAL = 0x00;
inline constexpr uint32_t CM_LOCATE_DEVNODE_BITS = 0x07;
inline constexpr uint32_t CM_REENUMERATE_NORMAL = 0x00;
inline constexpr uint32_t CM_REENUMERATE_BITS = 0x07;

// Operating system platform and product types.
inline constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;
inline constexpr uint8_t VER_NT_WORKSTATION = 1;

}  // namespace tarvex::win
