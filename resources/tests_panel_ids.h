// Control IDs of the "Miscellaneous tests" panel (template 130). The panel builds its controls
// with them, the driver tests read and set those controls through their host by the same IDs,
// and the headless runner's host answers for them.
#pragma once

enum TestsControlId : int {
  IDC_RUN_OVERLAP = 1029,
  IDC_LOOPTESTS = 1030,
  IDC_BLOCKSIZE = 1031,
  IDC_RUN_TIMEOUTS = 1032,
  IDC_LOGDATA = 1033,
  IDC_RUN_SETCONFIG = 1035,
  IDC_RUN_OPENCLOSE = 1036,
  IDC_LOOPINTERVAL = 1037,
  IDC_PHASE = 1038,
  IDC_BLOCKNUMBER = 1039,
  IDC_SETCONFIG_STATUS = 1040,
  IDC_OVERLAP_FROM = 1041,
  IDC_BAUDS_STATUS = 1042,
  IDC_RUN_BAUDS = 1043,
  IDC_WRITE_CLOSEHANDLE = 1049,
  IDC_WRITE_BAUDRATE = 1050,
  IDC_WRITE_FLUSH = 1051,
  IDC_WRITE_TXABORT = 1052,
  IDC_WRITE_TXCLEAR = 1053,
  IDC_WRITE_CANCELIO = 1054,
};
