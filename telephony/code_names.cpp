#include "telephony/code_names.h"

#include <cstdio>
#include <iterator>

#include "telephony/line_types.h"

namespace {

// LINEERR_ values 0x80000001 up, in order; the two numbers the API leaves unnamed are null.
// clang-format off
constexpr const char* kErrorNames[] = {
    "LINEERR_ALLOCATED", "LINEERR_BADDEVICEID", "LINEERR_BEARERMODEUNAVAIL", nullptr,
    "LINEERR_CALLUNAVAIL", "LINEERR_COMPLETIONOVERRUN", "LINEERR_CONFERENCEFULL",
    "LINEERR_DIALBILLING", "LINEERR_DIALDIALTONE", "LINEERR_DIALPROMPT", "LINEERR_DIALQUIET",
    "LINEERR_INCOMPATIBLEAPIVERSION", "LINEERR_INCOMPATIBLEEXTVERSION", "LINEERR_INIFILECORRUPT",
    "LINEERR_INUSE", "LINEERR_INVALADDRESS", "LINEERR_INVALADDRESSID", "LINEERR_INVALADDRESSMODE",
    "LINEERR_INVALADDRESSSTATE", "LINEERR_INVALAPPHANDLE", "LINEERR_INVALAPPNAME",
    "LINEERR_INVALBEARERMODE", "LINEERR_INVALCALLCOMPLMODE", "LINEERR_INVALCALLHANDLE",
    "LINEERR_INVALCALLPARAMS", "LINEERR_INVALCALLPRIVILEGE", "LINEERR_INVALCALLSELECT",
    "LINEERR_INVALCALLSTATE", "LINEERR_INVALCALLSTATELIST", "LINEERR_INVALCARD",
    "LINEERR_INVALCOMPLETIONID", "LINEERR_INVALCONFCALLHANDLE", "LINEERR_INVALCONSULTCALLHANDLE",
    "LINEERR_INVALCOUNTRYCODE", "LINEERR_INVALDEVICECLASS", "LINEERR_INVALDEVICEHANDLE",
    "LINEERR_INVALDIALPARAMS", "LINEERR_INVALDIGITLIST", "LINEERR_INVALDIGITMODE",
    "LINEERR_INVALDIGITS", "LINEERR_INVALEXTVERSION", "LINEERR_INVALGROUPID",
    "LINEERR_INVALLINEHANDLE", "LINEERR_INVALLINESTATE", "LINEERR_INVALLOCATION",
    "LINEERR_INVALMEDIALIST", "LINEERR_INVALMEDIAMODE", "LINEERR_INVALMESSAGEID", nullptr,
    "LINEERR_INVALPARAM", "LINEERR_INVALPARKID", "LINEERR_INVALPARKMODE", "LINEERR_INVALPOINTER",
    "LINEERR_INVALPRIVSELECT", "LINEERR_INVALRATE", "LINEERR_INVALREQUESTMODE",
    "LINEERR_INVALTERMINALID", "LINEERR_INVALTERMINALMODE", "LINEERR_INVALTIMEOUT",
    "LINEERR_INVALTONE", "LINEERR_INVALTONELIST", "LINEERR_INVALTONEMODE",
    "LINEERR_INVALTRANSFERMODE", "LINEERR_LINEMAPPERFAILED", "LINEERR_NOCONFERENCE",
    "LINEERR_NODEVICE", "LINEERR_NODRIVER", "LINEERR_NOMEM", "LINEERR_NOREQUEST",
    "LINEERR_NOTOWNER", "LINEERR_NOTREGISTERED", "LINEERR_OPERATIONFAILED",
    "LINEERR_OPERATIONUNAVAIL", "LINEERR_RATEUNAVAIL", "LINEERR_RESOURCEUNAVAIL",
    "LINEERR_REQUESTOVERRUN", "LINEERR_STRUCTURETOOSMALL", "LINEERR_TARGETNOTFOUND",
    "LINEERR_TARGETSELF", "LINEERR_UNINITIALIZED", "LINEERR_USERUSERINFOTOOBIG", "LINEERR_REINIT",
    "LINEERR_ADDRESSBLOCKED", "LINEERR_BILLINGREJECTED", "LINEERR_INVALFEATURE",
    "LINEERR_NOMULTIPLEINSTANCE"};
static_assert(std::size(kErrorNames) == 0x56);

constexpr const char* kMessageNames[] = {
    "LINE_ADDRESSSTATE", "LINE_CALLINFO",     "LINE_CALLSTATE",    "LINE_CLOSE",
    "LINE_DEVSPECIFIC",  "LINE_DEVSPECIFICFEATURE", "LINE_GATHERDIGITS", "LINE_GENERATE",
    "LINE_LINEDEVSTATE", "LINE_MONITORDIGITS", "LINE_MONITORMEDIA", "LINE_MONITORTONE",
    "LINE_REPLY",        "LINE_REQUEST",      "PHONE_BUTTON",      "PHONE_CLOSE",
    "PHONE_DEVSPECIFIC", "PHONE_REPLY",       "PHONE_STATE",       "LINE_CREATE",
    "PHONE_CREATE"};
static_assert(std::size(kMessageNames) == 21);

constexpr const char* kCallStateNames[] = {
    "LINECALLSTATE_IDLE",          "LINECALLSTATE_OFFERING",
    "LINECALLSTATE_ACCEPTED",      "LINECALLSTATE_DIALTONE",
    "LINECALLSTATE_DIALING",       "LINECALLSTATE_RINGBACK",
    "LINECALLSTATE_BUSY",          "LINECALLSTATE_SPECIALINFO",
    "LINECALLSTATE_CONNECTED",     "LINECALLSTATE_PROCEEDING",
    "LINECALLSTATE_ONHOLD",        "LINECALLSTATE_CONFERENCED",
    "LINECALLSTATE_ONHOLDPENDCONF", "LINECALLSTATE_ONHOLDPENDTRANSFER",
    "LINECALLSTATE_DISCONNECTED",  "LINECALLSTATE_UNKNOWN"};

constexpr const char* kOfferingModes[] = {"LINEOFFERINGMODE_ACTIVE", "LINEOFFERINGMODE_INACTIVE"};
constexpr const char* kDialToneModes[] = {
    "LINEDIALTONEMODE_NORMAL",   "LINEDIALTONEMODE_SPECIAL", "LINEDIALTONEMODE_INTERNAL",
    "LINEDIALTONEMODE_EXTERNAL", "LINEDIALTONEMODE_UNKNOWN", "LINEDIALTONEMODE_UNAVAIL"};
constexpr const char* kBusyModes[] = {"LINEBUSYMODE_STATION", "LINEBUSYMODE_TRUNK",
                                      "LINEBUSYMODE_UNKNOWN", "LINEBUSYMODE_UNAVAIL"};
constexpr const char* kSpecialInfos[] = {"LINESPECIALINFO_NOCIRCUIT", "LINESPECIALINFO_CUSTIRREG",
                                         "LINESPECIALINFO_REORDER", "LINESPECIALINFO_UNKNOWN",
                                         "LINESPECIALINFO_UNAVAIL"};
constexpr const char* kConnectedModes[] = {"LINECONNECTEDMODE_ACTIVE",
                                           "LINECONNECTEDMODE_INACTIVE"};
constexpr const char* kDisconnectModes[] = {
    "LINEDISCONNECTMODE_NORMAL",      "LINEDISCONNECTMODE_UNKNOWN",
    "LINEDISCONNECTMODE_REJECT",      "LINEDISCONNECTMODE_PICKUP",
    "LINEDISCONNECTMODE_FORWARDED",   "LINEDISCONNECTMODE_BUSY",
    "LINEDISCONNECTMODE_NOANSWER",    "LINEDISCONNECTMODE_BADADDRESS",
    "LINEDISCONNECTMODE_UNREACHABLE", "LINEDISCONNECTMODE_CONGESTION",
    "LINEDISCONNECTMODE_INCOMPATIBLE", "LINEDISCONNECTMODE_UNAVAIL",
    "LINEDISCONNECTMODE_NODIALTONE"};
// clang-format on

// The index of a single-bit value (bit 0 is index 0), or -1 when value has no bit or several.
int SingleBitIndex(DWORD value) {
  if (value == 0 || (value & (value - 1)) != 0) return -1;
  int index = 0;
  while ((value >>= 1) != 0) ++index;
  return index;
}

template <std::size_t N>
const char* BitName(const char* const (&names)[N], DWORD value) {
  const int index = SingleBitIndex(value);
  return index >= 0 && std::size_t(index) < N ? names[index] : nullptr;
}

}  // namespace

const char* LineErrorName(LONG result) {
  if (result == 0) return "SUCCESS";
  const DWORD value = static_cast<DWORD>(result);
  if (value >= 0x80000001u && value <= 0x80000056u) {
    if (const char* name = kErrorNames[value - 0x80000001u]) return name;
  }
  thread_local char text[256];
  std::snprintf(text, sizeof text, "LINEERR_0x%.8X", unsigned(value));
  return text;
}

const char* LineMessageName(DWORD message) {
  if (message < std::size(kMessageNames)) return kMessageNames[message];
  thread_local char text[256];
  std::snprintf(text, sizeof text, "LINE_Callback_0x%dL", int(message));
  return text;
}

const char* LineCallStateName(DWORD callState) {
  if (const char* name = BitName(kCallStateNames, callState)) return name;
  thread_local char text[256];
  std::snprintf(text, sizeof text, "LINECALLSTATE_0x%.8X", unsigned(callState));
  return text;
}

const char* LineCallStateDetailName(DWORD callState, DWORD detail) {
  thread_local char text[256];
  const char* name = nullptr;
  const char* fallBack = "0x%.8X";
  switch (callState) {
    case LINECALLSTATE_OFFERING:
      name = BitName(kOfferingModes, detail);
      fallBack = "LINEOFFERINGMODE_0x%.8X";
      break;
    case LINECALLSTATE_DIALTONE:
      name = BitName(kDialToneModes, detail);
      fallBack = "LINEDIALTONEMODE_0x%.8X";
      break;
    case LINECALLSTATE_BUSY:
      name = BitName(kBusyModes, detail);
      fallBack = "LINEBUSYMODE_0x%.8X";
      break;
    case LINECALLSTATE_SPECIALINFO:
      name = BitName(kSpecialInfos, detail);
      fallBack = "LINESPECIALINFO_0x%.8X";
      break;
    case LINECALLSTATE_CONNECTED:
      // Services older than the connected modes report an active connection as 0.
      name = detail == 0 ? "0 (active)" : BitName(kConnectedModes, detail);
      fallBack = "LINECONNECTEDMODE_0x%.8X";
      break;
    case LINECALLSTATE_CONFERENCED:
      // The detail is the conference call's handle.
      fallBack = "hConfCall=0x%.8X";
      break;
    case LINECALLSTATE_DISCONNECTED:
      name = BitName(kDisconnectModes, detail);
      fallBack = "LINEDISCONNECTMODE_0x%.8X";
      break;
    default: break;
  }
  if (name != nullptr) return name;
  std::snprintf(text, sizeof text, fallBack, unsigned(detail));
  return text;
}
