// The "DOBX commands" panel (template 131): the phone's object upload commands. Each command
// button carries its whole AT command line as caption and sends it; three captions follow the
// chosen file, object format, type and category. The "Title" and "Send" buttons send the data
// that the command in their row announces. The panel never reads the phone's answers: they show
// in the console's log.
//
// It holds its four values (file name, category, type, object format text) from construction
// on, refreshes them from the controls before every computation, and stores them when its
// window ends. The console enables its commands while a port is open and reads the category and
// the object format text for its object file sends.
#pragma once

#include <QString>

#include "platform/types.h"
#include "resources/console_ids.h"
#include "tools/tool_panel.h"

class ObjectFileSender;

// Control ids of the panel's template.
enum KdobjControlId : int {
  IDC_KDOBJ_QUERY = 1009,       // "AT+KDOBJ?"
  IDC_KDOBJ_OPEN = 1010,        // "AT+KDOBJ=1,1"
  IDC_KDOBJ_TITLE_CMD = 1011,   // "AT+KDOBJ=2,1,3,0,8": announces the 8 bytes of "Title"
  IDC_KDOBJ_OBJECT_CMD = 1012,  // object command with the format and the file size
  IDC_KDOBJ_CLOSE = 1013,       // "AT+KDOBJ=1,0"
  IDC_KPSL_CMD = 1014,          // list command with the category
  IDC_KPSW_CMD = 1015,          // write command with the type and the object's byte count
  IDC_KDOBJ_FILE = 1016,
  IDC_KDOBJ_BROWSE = 1017,
  IDC_KDOBJ_TITLE = 1018,    // "Title"
  IDC_KDOBJ_SEND = 1019,     // "Send" the file raw, after the object command
  IDC_KPSW_SEND = 1020,      // "Send" the object, after the write command
  IDC_KDOBJ_FORMAT = 1021,   // object format (DFOM) combo
  IDC_KPSW_TYPE = 1022,      // SyncAT type combo
  IDC_KPSL_CATEGORY = 1023,  // SyncAT category combo
};

class CToolKDOBJ : public CToolPanel {
 public:
  static constexpr int kTemplateId = 131;
  static constexpr int kToggleId = IDC_TOOL_KDOBJ;
  // Posted to itself: trim the object format field back to its number.
  static constexpr UINT WM_TRIM_FORMAT = WM_APP + 1;
  // Longest caption a command button carries, in the bytes its command sends.
  static constexpr int kCaptionMax = 99;
  // The longest type and category the fields take, in bytes as sent, so that the write and list
  // commands stay within kCaptionMax with any byte count (at most 20 digits).
  static constexpr int kTypeMax = kCaptionMax - 11 - 20;  // AT+KPSW="",<count>
  static constexpr int kCategoryMax = kCaptionMax - 24;   // AT+CSCS="GSM";+KPSL="",1
  // What "Title" sends: the product name, which the fixed command of 1011 announces as 8 bytes.
  static constexpr const char* kTitleData = "quor_vix";

  // Loads the four values from the settings store; the window is made hidden by Create.
  // console: the console dialog, which also performs the panel's file sends.
  explicit CToolKDOBJ(qv::ui::TemplateDialog* console);
  ~CToolKDOBJ() override;

  // true after a port has been opened, false after it has been closed: every button of the
  // panel but browse follows, then the file-dependent ones follow the file.
  void EnableCommands(bool enable);
  bool CommandsEnabled() const { return commandsEnabled_; }

  // The current values, as last read from the controls.
  QString FileName() const { return fileName_; }
  QString Category() const { return category_; }      // "KPSL_Category"
  QString Type() const { return type_; }              // "KPSW_Type"
  QString ObjectTypeText() const { return format_; }  // the object format text
  // The leading number of the object format text, as stored in "KDOBJ_Type" (atoi).
  int ObjectType() const;

  // Recomputes the three captions from the controls and enables the file-dependent buttons.
  void UpdateCommands();
  // Cuts a chosen object format row back to its number, then UpdateCommands.
  void TrimFormatNumber();

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  void BindHandlers();
  void ReadControls();  // the four values from their fields
  void WriteValuesToControls();
  void SendCaption(int id);
  void OnBrowse();
  void SaveValues() const;

  qv::ui::TemplateDialog* console_;
  ObjectFileSender* sender_;
  QString fileName_;
  QString category_;
  QString type_;
  QString format_;
  bool commandsEnabled_ = false;
  bool writingControls_ = false;  // controls being filled: their change notices wait
};
