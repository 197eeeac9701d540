// The records and entry points of RASAPI32.DLL, in the layout of the
// platform's first record versions: 4-byte packing, handles as wide as a
// pointer on Windows (so 8 bytes on 64-bit Windows) and 32 bits in the
// stand-in. They are declared here rather than taken from the system's ras.h,
// which gives the newest, larger records: these sizes are the ones the
// program has always passed, and every RAS library accepts them.
#ifndef QUORVEL_RAS_RASAPI_H
#define QUORVEL_RAS_RASAPI_H

#include <cstddef>

#include "platform/winapi.h"

#ifdef _WIN32
DECLARE_HANDLE(HRASCONN);
#else
// A connection handle is a 32-bit value inside the records on every host.
typedef std::uint32_t HRASCONN;
#endif
typedef HRASCONN* LPHRASCONN;

enum {
  RAS_MaxEntryName = 256,
  RAS_MaxDeviceType = 16,
  RAS_MaxDeviceName = 128,
  RAS_MaxPhoneNumber = 128,
  RAS_MaxCallbackNumber = 128,
  UNLEN = 256,
  PWLEN = 256,
  DNLEN = 15,
};

const DWORD RASCS_PAUSED = 0x1000;
const DWORD RASCS_DONE = 0x2000;
const DWORD RASCS_Authenticate = 9;
const DWORD RASCS_Interactive = RASCS_PAUSED;
const DWORD RASCS_Connected = RASCS_DONE;
const DWORD RASCS_Disconnected = RASCS_DONE + 1;

const DWORD RDEOPT_PausedStates = 0x002;
const DWORD RDEOPT_IgnoreModemSpeaker = 0x004;
const DWORD RDEOPT_SetModemSpeaker = 0x008;
const DWORD RDEOPT_SetSoftwareCompression = 0x020;
const DWORD RDEOPT_Router = 0x800;

// Error codes of the platform that the program and the simulated service
// use; windows.h already defines the first two.
#ifndef ERROR_INVALID_HANDLE
#define ERROR_INVALID_HANDLE 6
#endif
#ifndef ERROR_INVALID_PARAMETER
#define ERROR_INVALID_PARAMETER 87
#endif
#define ERROR_BUFFER_TOO_SMALL 603
#define ERROR_CANNOT_FIND_PHONEBOOK_ENTRY 623
#define ERROR_INVALID_SIZE 632

#pragma pack(push, 4)

struct RASCONNA {
  DWORD dwSize;
  HRASCONN hrasconn;
  char szEntryName[RAS_MaxEntryName + 1];
  char szDeviceType[RAS_MaxDeviceType + 1];
  char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASCONNSTATUSA {
  DWORD dwSize;
  DWORD rasconnstate;
  DWORD dwError;
  char szDeviceType[RAS_MaxDeviceType + 1];
  char szDeviceName[RAS_MaxDeviceName + 1];
};

struct RASDIALPARAMSA {
  DWORD dwSize;
  char szEntryName[RAS_MaxEntryName + 1];
  char szPhoneNumber[RAS_MaxPhoneNumber + 1];
  char szCallbackNumber[RAS_MaxCallbackNumber + 1];
  char szUserName[UNLEN + 1];
  char szPassword[PWLEN + 1];
  char szDomain[DNLEN + 1];
};

struct RASDIALEXTENSIONS {
  DWORD dwSize;
  DWORD dwfOptions;
  HWND hwndParent;
  ULONG_PTR reserved;
};

#pragma pack(pop)

// The sizes every RAS library checks through dwSize: a record of another
// size is refused, so each build pins its own.
#if defined(_WIN64)
static_assert(sizeof(HRASCONN) == 8 && sizeof(HWND) == 8, "64-bit Windows: 8-byte handles");
static_assert(sizeof(RASCONNA) == 416, "RASCONNA, 64-bit layout");
static_assert(sizeof(RASDIALEXTENSIONS) == 24, "RASDIALEXTENSIONS, 64-bit layout");
static_assert(offsetof(RASDIALEXTENSIONS, reserved) == 16, "reserved is pointer-sized");
#else
static_assert(sizeof(HRASCONN) == 4 && sizeof(HWND) == 4, "32-bit layout: 4-byte handles");
static_assert(sizeof(RASCONNA) == 412, "RASCONNA, 32-bit layout");
static_assert(sizeof(RASDIALEXTENSIONS) == 16, "RASDIALEXTENSIONS, 32-bit layout");
static_assert(offsetof(RASDIALEXTENSIONS, reserved) == 12, "reserved follows the window");
#endif
static_assert(offsetof(RASCONNA, hrasconn) == 4, "the handle follows dwSize");
static_assert(offsetof(RASDIALEXTENSIONS, hwndParent) == 8, "the window follows the options");
static_assert(sizeof(RASCONNSTATUSA) == 160, "RASCONNSTATUSA, the same on every build");
static_assert(sizeof(RASDIALPARAMSA) == 1052, "RASDIALPARAMSA, the same on every build");

typedef RASCONNA* LPRASCONNA;
typedef RASCONNSTATUSA* LPRASCONNSTATUSA;
typedef RASDIALPARAMSA* LPRASDIALPARAMSA;
typedef RASDIALEXTENSIONS* LPRASDIALEXTENSIONS;

typedef DWORD(RASAPI_CALL* RasEnumConnectionsA_t)(LPRASCONNA, LPDWORD, LPDWORD);
typedef DWORD(RASAPI_CALL* RasGetConnectStatusA_t)(HRASCONN, LPRASCONNSTATUSA);
typedef DWORD(RASAPI_CALL* RasHangUpA_t)(HRASCONN);
typedef DWORD(RASAPI_CALL* RasDialA_t)(LPRASDIALEXTENSIONS, LPCSTR, LPRASDIALPARAMSA,
                                       DWORD, LPVOID, LPHRASCONN);
typedef DWORD(RASAPI_CALL* RasGetErrorStringA_t)(UINT, LPSTR, DWORD);

// Looks an entry point up by name and gives it its own type; null when the
// library lacks it.
template <typename T>
T find_entry(HMODULE library, const char* name) {
  return FunctionCast<T>(GetProcAddress(library, name));
}

#endif
