// Serial ports with Win32 communications semantics.
//
// Records have the Win32 layouts and sizes (the program compares and dumps them as bytes), the
// functions the Win32 meaning: BOOL results, the calling thread's last error in Win32 numbering,
// overlapped requests completed through their OVERLAPPED record and its event.
//
// Port names: "\\.\NAME" and "NAME" open the virtual port NAME when there is one, else /dev/NAME;
// "COMn" is an alias of /dev/ttyS(n-1); a name with "/" opens as the path given.
#pragma once

#include "platform/types.h"

// ---- CreateFileA -------------------------------------------------------------------------------
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;

constexpr DWORD FILE_TYPE_UNKNOWN = 0;
constexpr DWORD FILE_TYPE_DISK = 1;
constexpr DWORD FILE_TYPE_CHAR = 2;

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                   void* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE templateFile);
DWORD GetFileType(HANDLE file);

// ---- DCB (28 bytes) ----------------------------------------------------------------------------
constexpr BYTE NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;
constexpr DWORD DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2,
                RTS_CONTROL_TOGGLE = 3;
constexpr DWORD CBR_110 = 110, CBR_300 = 300, CBR_600 = 600, CBR_1200 = 1200, CBR_2400 = 2400,
                CBR_4800 = 4800, CBR_9600 = 9600, CBR_14400 = 14400, CBR_19200 = 19200,
                CBR_38400 = 38400, CBR_56000 = 56000, CBR_57600 = 57600, CBR_115200 = 115200,
                CBR_128000 = 128000, CBR_256000 = 256000;

struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};
static_assert(sizeof(DCB) == 28, "DCB must keep its Win32 size");

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};

// ---- COMMPROP (64 bytes + provider characteristics) --------------------------------------------
constexpr DWORD COMMPROP_INITIALIZED = 0xE73CF52Eu;
constexpr DWORD PST_UNSPECIFIED = 0, PST_RS232 = 1, PST_PARALLELPORT = 2, PST_RS422 = 3,
                PST_RS423 = 4, PST_RS449 = 5, PST_MODEM = 6, PST_FAX = 0x21, PST_SCANNER = 0x22,
                PST_NETWORK_BRIDGE = 0x100, PST_LAT = 0x101, PST_TCPIP_TELNET = 0x102,
                PST_X25 = 0x103;
constexpr DWORD SP_SERIALCOMM = 1;
// dwProvCapabilities
constexpr DWORD PCF_DTRDSR = 0x1, PCF_RTSCTS = 0x2, PCF_RLSD = 0x4, PCF_PARITY_CHECK = 0x8,
                PCF_XONXOFF = 0x10, PCF_SETXCHAR = 0x20, PCF_TOTALTIMEOUTS = 0x40,
                PCF_INTTIMEOUTS = 0x80, PCF_SPECIALCHARS = 0x100, PCF_16BITMODE = 0x200;
// dwSettableParams
constexpr DWORD SP_PARITY = 0x1, SP_BAUD = 0x2, SP_DATABITS = 0x4, SP_STOPBITS = 0x8,
                SP_HANDSHAKING = 0x10, SP_PARITY_CHECK = 0x20, SP_RLSD = 0x40;
// dwMaxBaud / dwSettableBaud
constexpr DWORD BAUD_075 = 0x1, BAUD_110 = 0x2, BAUD_134_5 = 0x4, BAUD_150 = 0x8, BAUD_300 = 0x10,
                BAUD_600 = 0x20, BAUD_1200 = 0x40, BAUD_1800 = 0x80, BAUD_2400 = 0x100,
                BAUD_4800 = 0x200, BAUD_7200 = 0x400, BAUD_9600 = 0x800, BAUD_14400 = 0x1000,
                BAUD_19200 = 0x2000, BAUD_38400 = 0x4000, BAUD_56K = 0x8000, BAUD_128K = 0x10000,
                BAUD_115200 = 0x20000, BAUD_57600 = 0x40000, BAUD_USER = 0x10000000;
// wSettableData, wSettableStopParity
constexpr WORD DATABITS_5 = 0x1, DATABITS_6 = 0x2, DATABITS_7 = 0x4, DATABITS_8 = 0x8,
               DATABITS_16 = 0x10, DATABITS_16X = 0x20;
constexpr WORD STOPBITS_10 = 0x1, STOPBITS_15 = 0x2, STOPBITS_20 = 0x4, PARITY_NONE = 0x100,
               PARITY_ODD = 0x200, PARITY_EVEN = 0x400, PARITY_MARK = 0x800, PARITY_SPACE = 0x1000;

struct COMMPROP {
  WORD wPacketLength;
  WORD wPacketVersion;
  DWORD dwServiceMask;
  DWORD dwReserved1;
  DWORD dwMaxTxQueue;
  DWORD dwMaxRxQueue;
  DWORD dwMaxBaud;
  DWORD dwProvSubType;
  DWORD dwProvCapabilities;
  DWORD dwSettableParams;
  DWORD dwSettableBaud;
  WORD wSettableData;
  WORD wSettableStopParity;
  DWORD dwCurrentTxQueue;
  DWORD dwCurrentRxQueue;
  DWORD dwProvSpec1;
  DWORD dwProvSpec2;
  WCHAR wcProvChar[1];
};
static_assert(offsetof(COMMPROP, wcProvChar) == 60, "COMMPROP layout");

// ---- COMMCONFIG (52 bytes + provider data) -----------------------------------------------------
struct COMMCONFIG {
  DWORD dwSize;
  WORD wVersion;
  WORD wReserved;
  DCB dcb;
  DWORD dwProviderSubType;
  DWORD dwProviderOffset;
  DWORD dwProviderSize;
  WCHAR wcProviderData[1];
};
static_assert(offsetof(COMMCONFIG, dcb) == 8 && offsetof(COMMCONFIG, wcProviderData) == 48,
              "COMMCONFIG layout");

// Provider data of a modem port (dwProviderSubType PST_MODEM).
struct MODEMSETTINGS {
  DWORD dwActualSize;
  DWORD dwRequiredSize;
  DWORD dwDevSpecificOffset;
  DWORD dwDevSpecificSize;
  DWORD dwCallSetupFailTimer;
  DWORD dwInactivityTimeout;
  DWORD dwSpeakerVolume;
  DWORD dwSpeakerMode;
  DWORD dwPreferredModemOptions;
  DWORD dwNegotiatedModemOptions;
  DWORD dwNegotiatedDCERate;
  BYTE abVariablePortion[1];
};

// Provider characteristics of a modem port (COMMPROP.wcProvChar when dwProvSubType is PST_MODEM).
struct MODEMDEVCAPS {
  DWORD dwActualSize;
  DWORD dwRequiredSize;
  DWORD dwDevSpecificOffset;
  DWORD dwDevSpecificSize;
  DWORD dwModemProviderVersion;
  DWORD dwModemManufacturerOffset;
  DWORD dwModemManufacturerSize;
  DWORD dwModemModelOffset;
  DWORD dwModemModelSize;
  DWORD dwModemVersionOffset;
  DWORD dwModemVersionSize;
  DWORD dwDialOptions;
  DWORD dwCallSetupFailTimer;
  DWORD dwInactivityTimeout;
  DWORD dwSpeakerVolume;
  DWORD dwSpeakerMode;
  DWORD dwModemOptions;
  DWORD dwMaxDTERate;
  DWORD dwMaxDCERate;
  BYTE abVariablePortion[1];
};

// ---- Errors, status, events --------------------------------------------------------------------
constexpr DWORD CE_RXOVER = 0x0001, CE_OVERRUN = 0x0002, CE_RXPARITY = 0x0004, CE_FRAME = 0x0008,
                CE_BREAK = 0x0010, CE_TXFULL = 0x0100;

struct COMSTAT {
  DWORD fCtsHold : 1;
  DWORD fDsrHold : 1;
  DWORD fRlsdHold : 1;
  DWORD fXoffHold : 1;
  DWORD fXoffSent : 1;
  DWORD fEof : 1;
  DWORD fTxim : 1;
  DWORD fReserved : 25;
  DWORD cbInQue;
  DWORD cbOutQue;
};

constexpr DWORD EV_RXCHAR = 0x0001, EV_RXFLAG = 0x0002, EV_TXEMPTY = 0x0004, EV_CTS = 0x0008,
                EV_DSR = 0x0010, EV_RLSD = 0x0020, EV_BREAK = 0x0040, EV_ERR = 0x0080,
                EV_RING = 0x0100;

constexpr DWORD MS_CTS_ON = 0x0010, MS_DSR_ON = 0x0020, MS_RING_ON = 0x0040, MS_RLSD_ON = 0x0080;

constexpr DWORD PURGE_TXABORT = 0x0001, PURGE_RXABORT = 0x0002, PURGE_TXCLEAR = 0x0004,
                PURGE_RXCLEAR = 0x0008;

constexpr DWORD SETXOFF = 1, SETXON = 2, SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6,
                RESETDEV = 7, SETBREAK = 8, CLRBREAK = 9;

// ---- Functions ---------------------------------------------------------------------------------
BOOL GetCommState(HANDLE file, DCB* dcb);
BOOL SetCommState(HANDLE file, const DCB* dcb);
BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts);
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL GetCommProperties(HANDLE file, COMMPROP* properties);
// size is in/out: the caller's buffer size, then the size needed/written.
// The size of the program's COMMCONFIG buffers: room for the header, the DCB and a modem's
// settings. Every get is told this size again.
inline constexpr DWORD kCommConfigBufferSize = 1076;

BOOL GetCommConfig(HANDLE file, COMMCONFIG* config, DWORD* size);
BOOL SetCommConfig(HANDLE file, const COMMCONFIG* config, DWORD size);
// The per-port default configuration, by device name ("COM1", "vloop0", "ttyUSB0"), kept per user.
BOOL GetDefaultCommConfigA(const char* name, COMMCONFIG* config, DWORD* size);
BOOL SetDefaultCommConfigA(const char* name, const COMMCONFIG* config, DWORD size);

BOOL SetCommMask(HANDLE file, DWORD eventMask);
BOOL GetCommMask(HANDLE file, DWORD* eventMask);
BOOL WaitCommEvent(HANDLE file, DWORD* eventMask, OVERLAPPED* overlapped);
BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* status);
// The COMSTAT that ClearCommError gives, without taking (and clearing) the error word. Not a
// Win32 call: for a watcher of the queues that must leave each line error to the reader that
// reports it.
BOOL GetCommQueueStatus(HANDLE file, COMSTAT* status);
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL EscapeCommFunction(HANDLE file, DWORD function);
BOOL SetCommBreak(HANDLE file);
BOOL ClearCommBreak(HANDLE file);
BOOL GetCommModemStatus(HANDLE file, DWORD* modemStatus);
BOOL TransmitCommChar(HANDLE file, char c);

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written,
               OVERLAPPED* overlapped);
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
BOOL FlushFileBuffers(HANDLE file);
// Cancels the pending requests that the calling thread issued on the handle (995).
BOOL CancelIo(HANDLE file);
