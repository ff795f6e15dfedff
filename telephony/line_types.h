// The telephony line API as the program and the line service share it: handles, callback, the
// constants of API version 1.4 that either side uses, and the records with their fixed layouts.
//
// Every value is 32-bit; results are signed: 0 or a positive request identifier for success, a
// negative LINEERR_ code for failure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

using HLINEAPP = DWORD;
using HLINE = DWORD;
using HCALL = DWORD;
using HINSTANCE = void*;

// The callback an application registers with lineInitialize.
using LINECALLBACK = void (*)(DWORD hDevice, DWORD dwMessage, DWORD dwCallbackInstance,
                              DWORD dwParam1, DWORD dwParam2, DWORD dwParam3);

// ---- Results -------------------------------------------------------------------------------------
constexpr LONG LineErr(DWORD code) { return static_cast<LONG>(0x80000000u | code); }
constexpr LONG LINEERR_ALLOCATED = LineErr(0x01);
constexpr LONG LINEERR_BADDEVICEID = LineErr(0x02);
constexpr LONG LINEERR_BEARERMODEUNAVAIL = LineErr(0x03);
constexpr LONG LINEERR_CALLUNAVAIL = LineErr(0x05);
constexpr LONG LINEERR_INCOMPATIBLEAPIVERSION = LineErr(0x0C);
constexpr LONG LINEERR_INCOMPATIBLEEXTVERSION = LineErr(0x0D);
constexpr LONG LINEERR_INVALADDRESSID = LineErr(0x11);
constexpr LONG LINEERR_INVALAPPHANDLE = LineErr(0x14);
constexpr LONG LINEERR_INVALBEARERMODE = LineErr(0x16);
constexpr LONG LINEERR_INVALCALLHANDLE = LineErr(0x18);
constexpr LONG LINEERR_INVALCALLPARAMS = LineErr(0x19);
constexpr LONG LINEERR_INVALCALLSELECT = LineErr(0x1B);
constexpr LONG LINEERR_INVALCOUNTRYCODE = LineErr(0x22);
constexpr LONG LINEERR_INVALDEVICECLASS = LineErr(0x23);
constexpr LONG LINEERR_INVALEXTVERSION = LineErr(0x29);
constexpr LONG LINEERR_INVALLINEHANDLE = LineErr(0x2B);
constexpr LONG LINEERR_INVALMEDIAMODE = LineErr(0x2F);
constexpr LONG LINEERR_INVALPOINTER = LineErr(0x35);
constexpr LONG LINEERR_INVALPRIVSELECT = LineErr(0x36);
constexpr LONG LINEERR_NODEVICE = LineErr(0x42);
constexpr LONG LINEERR_NOMEM = LineErr(0x44);
constexpr LONG LINEERR_OPERATIONFAILED = LineErr(0x48);
constexpr LONG LINEERR_OPERATIONUNAVAIL = LineErr(0x49);
constexpr LONG LINEERR_RESOURCEUNAVAIL = LineErr(0x4B);
constexpr LONG LINEERR_STRUCTURETOOSMALL = LineErr(0x4D);
constexpr LONG LINEERR_UNINITIALIZED = LineErr(0x50);

// ---- Messages ------------------------------------------------------------------------------------
constexpr DWORD LINE_CALLSTATE = 2;
constexpr DWORD LINE_CLOSE = 3;
constexpr DWORD LINE_LINEDEVSTATE = 8;
constexpr DWORD LINE_REPLY = 12;
constexpr DWORD LINE_CREATE = 19;

constexpr DWORD LINEDEVSTATE_REINIT = 0x00040000;

// ---- Call states and their details --------------------------------------------------------------
constexpr DWORD LINECALLSTATE_IDLE = 0x00000001;
constexpr DWORD LINECALLSTATE_OFFERING = 0x00000002;
constexpr DWORD LINECALLSTATE_DIALTONE = 0x00000008;
constexpr DWORD LINECALLSTATE_BUSY = 0x00000040;
constexpr DWORD LINECALLSTATE_SPECIALINFO = 0x00000080;
constexpr DWORD LINECALLSTATE_CONNECTED = 0x00000100;
constexpr DWORD LINECALLSTATE_CONFERENCED = 0x00000800;
constexpr DWORD LINECALLSTATE_DISCONNECTED = 0x00004000;

constexpr DWORD LINECONNECTEDMODE_ACTIVE = 0x00000001;
constexpr DWORD LINEDISCONNECTMODE_NORMAL = 0x00000001;
constexpr DWORD LINEDISCONNECTMODE_UNAVAIL = 0x00000800;

constexpr DWORD LINECALLPRIVILEGE_NONE = 0x00000001;
constexpr DWORD LINECALLPRIVILEGE_MONITOR = 0x00000002;
constexpr DWORD LINECALLPRIVILEGE_OWNER = 0x00000004;

// ---- Modes and selections ----------------------------------------------------------------------
constexpr DWORD LINEBEARERMODE_VOICE = 0x00000001;
constexpr DWORD LINEBEARERMODE_PASSTHROUGH = 0x00000040;
constexpr DWORD LINEMEDIAMODE_INTERACTIVEVOICE = 0x00000004;
constexpr DWORD LINEMEDIAMODE_DATAMODEM = 0x00000010;
constexpr DWORD LINEADDRESSMODE_ADDRESSID = 0x00000001;

constexpr DWORD LINECALLSELECT_LINE = 0x00000001;
constexpr DWORD LINECALLSELECT_ADDRESS = 0x00000002;
constexpr DWORD LINECALLSELECT_CALL = 0x00000004;

constexpr DWORD STRINGFORMAT_ASCII = 0x00000001;
constexpr DWORD STRINGFORMAT_BINARY = 0x00000004;

constexpr DWORD TAPI_VERSION_1_4 = 0x00010004;

// ---- Records -------------------------------------------------------------------------------------
// Variable-size records begin with their total size (set by the caller), the size they need and
// the size the service filled in; their variable part follows the fixed part.

struct VARSTRING {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwStringFormat;
  DWORD dwStringSize;
  DWORD dwStringOffset;
};
static_assert(sizeof(VARSTRING) == 24);

struct LINEEXTENSIONID {
  DWORD dwExtensionID0;
  DWORD dwExtensionID1;
  DWORD dwExtensionID2;
  DWORD dwExtensionID3;
};

struct LINEDIALPARAMS {
  DWORD dwDialPause;
  DWORD dwDialSpeed;
  DWORD dwDigitDuration;
  DWORD dwWaitForDialtone;
};

struct LINECALLPARAMS {
  DWORD dwTotalSize;
  DWORD dwBearerMode;
  DWORD dwMinRate;
  DWORD dwMaxRate;
  DWORD dwMediaMode;
  DWORD dwCallParamFlags;
  DWORD dwAddressMode;
  DWORD dwAddressID;
  LINEDIALPARAMS DialParams;
  DWORD dwOrigAddressSize;
  DWORD dwOrigAddressOffset;
  DWORD dwDisplayableAddressSize;
  DWORD dwDisplayableAddressOffset;
  DWORD dwCalledPartySize;
  DWORD dwCalledPartyOffset;
  DWORD dwCommentSize;
  DWORD dwCommentOffset;
  DWORD dwUserUserInfoSize;
  DWORD dwUserUserInfoOffset;
  DWORD dwHighLevelCompSize;
  DWORD dwHighLevelCompOffset;
  DWORD dwLowLevelCompSize;
  DWORD dwLowLevelCompOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
};
static_assert(sizeof(LINECALLPARAMS) == 112);

struct LINEDEVCAPS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwProviderInfoSize;
  DWORD dwProviderInfoOffset;
  DWORD dwSwitchInfoSize;
  DWORD dwSwitchInfoOffset;
  DWORD dwPermanentLineID;
  DWORD dwLineNameSize;
  DWORD dwLineNameOffset;
  DWORD dwStringFormat;
  DWORD dwAddressModes;
  DWORD dwNumAddresses;
  DWORD dwBearerModes;
  DWORD dwMaxRate;
  DWORD dwMediaModes;
  DWORD dwGenerateToneModes;
  DWORD dwGenerateToneMaxNumFreq;
  DWORD dwGenerateDigitModes;
  DWORD dwMonitorToneMaxNumFreq;
  DWORD dwMonitorToneMaxNumEntries;
  DWORD dwMonitorDigitModes;
  DWORD dwGatherDigitsMinTimeout;
  DWORD dwGatherDigitsMaxTimeout;
  DWORD dwMedCtlDigitMaxListSize;
  DWORD dwMedCtlMediaMaxListSize;
  DWORD dwMedCtlToneMaxListSize;
  DWORD dwMedCtlCallStateMaxListSize;
  DWORD dwDevCapFlags;
  DWORD dwMaxNumActiveCalls;
  DWORD dwAnswerMode;
  DWORD dwRingModes;
  DWORD dwLineStates;
  DWORD dwUUIAcceptSize;
  DWORD dwUUIAnswerSize;
  DWORD dwUUIMakeCallSize;
  DWORD dwUUIDropSize;
  DWORD dwUUISendUserUserInfoSize;
  DWORD dwUUICallInfoSize;
  LINEDIALPARAMS MinDialParams;
  LINEDIALPARAMS MaxDialParams;
  LINEDIALPARAMS DefaultDialParams;
  DWORD dwNumTerminals;
  DWORD dwTerminalCapsSize;
  DWORD dwTerminalCapsOffset;
  DWORD dwTerminalTextEntrySize;
  DWORD dwTerminalTextSize;
  DWORD dwTerminalTextOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwLineFeatures;
};
static_assert(sizeof(LINEDEVCAPS) == 240);
static_assert(offsetof(LINEDEVCAPS, dwLineNameOffset) == 36);

// The fixed part of the "comm/datamodem" answer: the port's handle as 4 bytes right after it.
constexpr DWORD kVarStringFixedSize = sizeof(VARSTRING);
