#include "sim/phone.h"

#include <mutex>
#include <string>
#include <vector>

#include "sim/at_command_line.h"
#include "sim/object_frame.h"

namespace qv::sim {
namespace {

constexpr std::size_t kMaxCommandLine = 1024;  // longer lines are refused as a whole
constexpr std::uint8_t kCR = 0x0D, kLF = 0x0A, kBS = 0x08;

// Settings that ATZ and AT&F restore.
struct Settings {
  bool echo = true;
  bool verbose = true;
  bool quiet = false;
  std::uint32_t cmee = 0;
  std::uint32_t flowControl = 3;  // &K3: RTS/CTS
  std::uint32_t dcdMode = 1;      // &C1
  std::uint32_t dtrMode = 2;      // &D2
};

enum class Outcome { kOk, kError, kData };

// What the bytes after a data command are, and how they are judged.
enum class DataKind { kNone, kFramedObject, kRawObject, kObjectData };

class Phone final : public Device {
 public:
  void Attach(LineEnd* line) override {
    std::lock_guard lock(mutex_);
    line_ = line;
    if (!line_) ResetSession();
  }

  void OnHostBytes(const std::uint8_t* data, std::size_t count) override {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < count; ++i) {
      if (dataKind_ != DataKind::kNone) {
        OnDataByte(data[i]);
      } else {
        OnCommandByte(data[i]);
      }
    }
    Flush();
  }

  void OnHostLines(bool dtr, bool /*rts*/) override {
    std::lock_guard lock(mutex_);
    // &D1/&D2: the phone drops what it was receiving when the host lets go of DTR.
    if (dtr_ && !dtr && settings_.dtrMode != 0) AbandonData();
    dtr_ = dtr;
    PublishLines();
  }

  void OnBreak(bool /*on*/) override {}

  void OnHostOpen(bool open) override {
    std::lock_guard lock(mutex_);
    hostOpen_ = open;
    // Each connection starts at the start of a command line; settings survive like a phone's.
    ResetSession();
    if (!open) dtr_ = false;
    PublishLines();
  }

  DeviceDescription Describe() const override {
    DeviceDescription d;
    d.providerSubType = 6;  // PST_MODEM
    d.manufacturer = kManufacturer;
    d.model = kModel;
    d.version = kVersion;
    d.devSpecific = "QVP-1 data port: AT command set with object upload";
    d.maxDteRate = 460800;
    d.maxDceRate = 14400;
    return d;
  }

 private:
  static constexpr const char* kManufacturer = "QUELM";
  static constexpr const char* kModel = "QUELM Virtual Phone";
  static constexpr const char* kVersion = "1.0";

  // ---- command state ----------------------------------------------------------------------

  void OnCommandByte(std::uint8_t b) {
    if (b == kLF) return;  // the second half of a CR LF line end
    if (settings_.echo) out_.push_back(static_cast<char>(b));
    if (b == kCR) {
      std::string line;
      line.swap(line_buffer_);
      const bool tooLong = lineTooLong_;
      lineTooLong_ = false;
      if (tooLong) {
        Result(Outcome::kError);
      } else {
        ExecuteLine(line);
      }
      return;
    }
    if (b == kBS) {
      if (!line_buffer_.empty()) line_buffer_.pop_back();
      return;
    }
    if (line_buffer_.size() >= kMaxCommandLine) {
      lineTooLong_ = true;
    } else {
      line_buffer_.push_back(static_cast<char>(b));
    }
  }

  void ExecuteLine(const std::string& line) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return;  // an empty line is not a command
    if (line.size() - start < 2 || (line[start] != 'A' && line[start] != 'a') ||
        (line[start + 1] != 'T' && line[start + 1] != 't')) {
      Result(Outcome::kError);
      return;
    }
    const auto commands = SplitAtCommands(std::string_view(line).substr(start + 2));
    if (!commands) {
      Result(Outcome::kError);
      return;
    }
    for (std::size_t i = 0; i < commands->size(); ++i) {
      const Outcome outcome = Execute((*commands)[i]);
      if (outcome == Outcome::kError) {
        dataKind_ = DataKind::kNone;
        Result(Outcome::kError);
        return;
      }
      if (outcome == Outcome::kData) {
        // The announced bytes follow the line end, so nothing may come after a data command.
        if (i + 1 != commands->size()) {
          dataKind_ = DataKind::kNone;
          Result(Outcome::kError);
          return;
        }
        BeginData();
        return;
      }
    }
    Result(Outcome::kOk);
  }

  Outcome Execute(const AtCommand& cmd) {
    using Form = AtCommand::Form;
    if (cmd.name[0] != '+') return ExecuteBasic(cmd);
    if (cmd.name == "+CMEE") {
      return NumberSetting(cmd, settings_.cmee, 2, "+CMEE: (0-2)");
    }
    if (cmd.name == "+CGMI" || cmd.name == "+GMI") return Identify(cmd, kManufacturer);
    if (cmd.name == "+CGMM" || cmd.name == "+GMM") return Identify(cmd, kModel);
    if (cmd.name == "+CGMR" || cmd.name == "+GMR") return Identify(cmd, kVersion);
    if (cmd.name == "+CSCS") return CharacterSet(cmd);
    if (cmd.name == "+CKPD") {
      if (cmd.form == Form::kTest) return Outcome::kOk;
      if (cmd.form != Form::kSet) return Outcome::kError;
      // AT+CKPD=<keys>[,<time>[,<pause>]]: the keys are "pressed" and forgotten.
      const auto args = ParseAtArgs(cmd.args);
      if (!args || args->size() > 3 || (*args)[0].kind != AtArg::Kind::kString) {
        return Outcome::kError;
      }
      for (std::size_t i = 1; i < args->size(); ++i) {
        if ((*args)[i].kind == AtArg::Kind::kString) return Outcome::kError;
      }
      return Outcome::kOk;
    }
    if (cmd.name == "+KDOBJ") return ObjectCommand(cmd);
    if (cmd.name == "+KPSL") return ListCommand(cmd);
    if (cmd.name == "+KPSW") return WriteCommand(cmd);
    return Outcome::kError;
  }

  Outcome ExecuteBasic(const AtCommand& cmd) {
    const std::uint32_t v = cmd.value.value_or(0);
    if (cmd.form == AtCommand::Form::kRead) return Outcome::kError;
    if (cmd.name == "E") return Flag(v, settings_.echo);
    if (cmd.name == "V") return Flag(v, settings_.verbose);
    if (cmd.name == "Q") return Flag(v, settings_.quiet);
    if (cmd.name == "Z" || cmd.name == "&F") {
      if (v != 0) return Outcome::kError;
      settings_ = Settings{};
      return Outcome::kOk;
    }
    if (cmd.name == "&K") {
      // 0 none, 3 RTS/CTS, 4 XON/XOFF, 5 transparent XON/XOFF, 6 both.
      if (v != 0 && (v < 3 || v > 6)) return Outcome::kError;
      settings_.flowControl = v;
      return Outcome::kOk;
    }
    if (cmd.name == "&C") return Range(v, 1, settings_.dcdMode);
    if (cmd.name == "&D") return Range(v, 2, settings_.dtrMode);
    if (cmd.name == "I") {
      if (v == 0) return Info(kModel);
      if (v == 3) return Info(kVersion);
      return Outcome::kError;
    }
    return Outcome::kError;
  }

  static Outcome Flag(std::uint32_t v, bool& flag) {
    if (v > 1) return Outcome::kError;
    flag = v == 1;
    return Outcome::kOk;
  }

  static Outcome Range(std::uint32_t v, std::uint32_t max, std::uint32_t& setting) {
    if (v > max) return Outcome::kError;
    setting = v;
    return Outcome::kOk;
  }

  Outcome NumberSetting(const AtCommand& cmd, std::uint32_t& setting, std::uint32_t max,
                        const char* testText) {
    switch (cmd.form) {
      case AtCommand::Form::kRead: return Info(cmd.name + ": " + std::to_string(setting));
      case AtCommand::Form::kTest: return Info(testText);
      case AtCommand::Form::kSet: {
        const auto args = ParseAtArgs(cmd.args);
        if (!args || args->size() != 1) return Outcome::kError;
        const AtArg& a = (*args)[0];
        if (a.kind == AtArg::Kind::kString || (a.kind == AtArg::Kind::kNumber && a.number > max)) {
          return Outcome::kError;
        }
        setting = a.kind == AtArg::Kind::kNumber ? a.number : 0;
        return Outcome::kOk;
      }
      case AtCommand::Form::kAction: return Outcome::kError;
    }
    return Outcome::kError;
  }

  Outcome Identify(const AtCommand& cmd, const char* text) {
    if (cmd.form == AtCommand::Form::kTest) return Outcome::kOk;
    if (cmd.form != AtCommand::Form::kAction) return Outcome::kError;
    return Info(text);
  }

  Outcome CharacterSet(const AtCommand& cmd) {
    static const char* const kSets[] = {"GSM", "IRA", "UCS2", "8859-1"};
    switch (cmd.form) {
      case AtCommand::Form::kRead: return Info("+CSCS: \"" + charset_ + "\"");
      case AtCommand::Form::kTest: return Info("+CSCS: (\"GSM\",\"IRA\",\"UCS2\",\"8859-1\")");
      case AtCommand::Form::kSet: {
        const auto args = ParseAtArgs(cmd.args);
        if (!args || args->size() != 1 || (*args)[0].kind != AtArg::Kind::kString) {
          return Outcome::kError;
        }
        for (const char* set : kSets) {
          if ((*args)[0].text == set) {
            charset_ = set;
            return Outcome::kOk;
          }
        }
        return Outcome::kError;
      }
      case AtCommand::Form::kAction: return Outcome::kError;
    }
    return Outcome::kError;
  }

  // ---- object upload --------------------------------------------------------------------

  static bool AllNumbers(const std::vector<AtArg>& args) {
    for (const AtArg& a : args) {
      if (a.kind != AtArg::Kind::kNumber) return false;
    }
    return true;
  }

  Outcome ObjectCommand(const AtCommand& cmd) {
    if (cmd.form == AtCommand::Form::kRead) {
      return Info("+KDOBJ: " + std::to_string(objectSession_ ? 1 : 0));
    }
    if (cmd.form == AtCommand::Form::kTest) return Info("+KDOBJ: (1,2)");
    if (cmd.form != AtCommand::Form::kSet) return Outcome::kError;
    const auto args = ParseAtArgs(cmd.args);
    if (!args || !AllNumbers(*args)) return Outcome::kError;
    const std::uint32_t mode = (*args)[0].number;
    if (mode == 1 && args->size() == 2 && (*args)[1].number <= 1) {
      objectSession_ = (*args)[1].number == 1;
      return Outcome::kOk;
    }
    if (mode == 2 && args->size() == 5) {
      return Announce(DataKind::kObjectData, (*args)[4].number);
    }
    return Outcome::kError;
  }

  Outcome ListCommand(const AtCommand& cmd) {
    if (cmd.form != AtCommand::Form::kSet) return Outcome::kError;
    const auto args = ParseAtArgs(cmd.args);
    if (!args || args->empty() || args->size() > 2 || (*args)[0].kind != AtArg::Kind::kString ||
        (*args)[0].text.empty()) {
      return Outcome::kError;
    }
    if (args->size() == 2 && (*args)[1].kind != AtArg::Kind::kNumber) return Outcome::kError;
    category_ = (*args)[0].text;
    return Outcome::kOk;
  }

  Outcome WriteCommand(const AtCommand& cmd) {
    if (cmd.form != AtCommand::Form::kSet) return Outcome::kError;
    const auto args = ParseAtArgs(cmd.args);
    if (!args || args->size() != 2 || (*args)[0].kind != AtArg::Kind::kString ||
        (*args)[0].text.empty() || (*args)[1].kind != AtArg::Kind::kNumber) {
      return Outcome::kError;
    }
    // Contact and calendar entries are stored as the text they are; everything else is framed.
    const bool raw = category_ == "VCARDS" || category_ == "VEVENTS" || category_ == "VTODO";
    return Announce(raw ? DataKind::kRawObject : DataKind::kFramedObject, (*args)[1].number);
  }

  Outcome Announce(DataKind kind, std::uint32_t count) {
    if (count > kPhoneMaxObjectSize) return Outcome::kError;
    dataKind_ = kind;
    dataExpected_ = count;
    return Outcome::kData;
  }

  // ---- data state -----------------------------------------------------------------------

  void BeginData() {
    data_.clear();
    data_.reserve(dataExpected_);
    skipLf_ = true;
    if (dataExpected_ == 0) EndData();
  }

  void OnDataByte(std::uint8_t b) {
    // The host ends the command line with CR LF; that LF is not the object's first byte.
    const bool lineEnd = skipLf_ && b == kLF;
    skipLf_ = false;
    if (lineEnd) return;
    data_.push_back(b);
    if (data_.size() == dataExpected_) EndData();
  }

  void EndData() {
    bool ok = true;
    if (dataKind_ == DataKind::kFramedObject) {
      ok = CheckObjectFrame(data_.data(), data_.size()).fault == FrameFault::kNone;
    }
    dataKind_ = DataKind::kNone;
    data_.clear();
    data_.shrink_to_fit();
    Result(ok ? Outcome::kOk : Outcome::kError);
  }

  void AbandonData() {
    dataKind_ = DataKind::kNone;
    data_.clear();
    data_.shrink_to_fit();
  }

  void ResetSession() {
    AbandonData();
    line_buffer_.clear();
    lineTooLong_ = false;
    skipLf_ = false;
  }

  // ---- output ---------------------------------------------------------------------------

  Outcome Info(const std::string& text) {
    if (settings_.verbose) out_ += "\r\n";
    out_ += text;
    out_ += "\r\n";
    return Outcome::kOk;
  }

  void Result(Outcome outcome) {
    if (settings_.quiet) return;
    const bool ok = outcome == Outcome::kOk;
    if (settings_.verbose) {
      out_ += ok ? "\r\nOK\r\n" : "\r\nERROR\r\n";
    } else {
      out_ += ok ? "0\r" : "4\r";
    }
  }

  void Flush() {
    if (!out_.empty() && line_) {
      line_->SendToHost(reinterpret_cast<const std::uint8_t*>(out_.data()), out_.size());
    }
    out_.clear();
  }

  void PublishLines() {
    if (line_) line_->SetDeviceLines(hostOpen_, dtr_, dtr_, false);
  }

  std::mutex mutex_;
  LineEnd* line_ = nullptr;
  bool hostOpen_ = false;
  bool dtr_ = false;
  Settings settings_;
  std::string charset_ = "GSM";
  bool objectSession_ = false;
  std::string category_;

  std::string line_buffer_;
  bool lineTooLong_ = false;
  std::string out_;

  DataKind dataKind_ = DataKind::kNone;
  std::uint32_t dataExpected_ = 0;
  std::vector<std::uint8_t> data_;
  bool skipLf_ = false;
};

}  // namespace

std::unique_ptr<Device> MakePhone() { return std::make_unique<Phone>(); }

}  // namespace qv::sim
