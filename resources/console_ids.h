// Control and command IDs of the console's template (102). The console builds its window with
// them; the test panel's host drives the console's port, speed and command-line controls by
// them, and each panel's toggle button is one of them.
#pragma once

enum QuorvixControlId : int {
  IDC_PORT = 1000,
  IDC_OPENCLOSE = 1001,
  IDC_FILENAME = 1016,
  IDC_BROWSE = 1017,
  IDC_LOG = 1018,
  IDC_SPEED = 1019,
  IDC_SENDLINE_TEXT = 1020,
  IDC_SENDLINE = 1021,
  IDC_CLEARLOG = 1022,
  IDC_LOGFONT = 1023,
  IDC_OPENTAPI = 1024,
  IDC_OPENONPNP = 1025,
  IDC_SENDFILE = 1026,
  IDC_SEND = 1027,
  IDC_HEXA = 1028,
  IDC_VERBOSEMORE = 1029,
  IDC_VERBOSE = 1033,
  IDC_TIMESTAMP = 1034,
  IDC_TOOL_TESTS = 1038,
  IDC_TOOL_STATES = 1039,
  IDC_TOOL_KDOBJ = 1040,
  ID_DEVICE_LIST = 1047,  // a command without a control: context menu and shortcut
  IDC_PORTCONFIG = 1054,
  IDC_RAWFILE_GROUP = 1055,
};
