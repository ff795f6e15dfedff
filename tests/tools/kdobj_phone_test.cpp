// The object command panel against the simulated phone on vphone0: every command button's line
// and the data that follows it, as the wire carries them and as the phone answers in the log.
#include <QComboBox>

#include "console/log_view.h"
#include "tests/tools/kdobj_fixture.h"

using qv::test::Bytes;
using qv::test::FileBytes;
using qv::test::KdobjTest;
using qv::test::WriteBytes;

namespace {

class KdobjPhoneTest : public KdobjTest {
 protected:
  // Presses the buttons one after the other, then waits for the phone's result code; gives
  // what the log gained meanwhile.
  QString Exchange(std::initializer_list<int> ids) {
    const qsizetype start = Dlg().Log()->Text().size();
    for (int id : ids) {
      EXPECT_TRUE(Enabled(id)) << id;
      Click(id);
    }
    QString gained;
    const bool answered = WaitUntil(
        [&] {
          gained = Dlg().Log()->Text().mid(start);
          return gained.contains("OK\r\n") || gained.contains("ERROR\r\n");
        },
        20000);
    EXPECT_TRUE(answered) << "no answer; the log gained: " << gained.toStdString();
    return gained;
  }
  // What went out so far, from the record of sent data, once it holds count bytes.
  static Bytes SentLog(std::size_t count) {
    WaitUntil([&] { return FileBytes("data_sent.log").size() >= count; }, 20000);
    return FileBytes("data_sent.log");
  }
  static void Append(Bytes& to, const QString& text) {
    const QByteArray bytes = text.toLatin1();
    to.insert(to.end(), bytes.begin(), bytes.end());
  }
};

}  // namespace

TEST_F(KdobjPhoneTest, EachButtonSendsItsLineOrItsDataAndThePhoneAnswers) {
  qv::store::WriteProfileInt("Settings", "Verbose", 0);  // the log shows what the phone sends
  CQuorvixDlg& dlg = Open();
  const Bytes content(1000, 'w');
  WriteBytes("ring.tone.wav", content);
  Type(IDC_KDOBJ_FILE, QString::fromStdString(Here("ring.tone.wav")));
  CommConnection.LogData = 1;
  OpenPort("vphone0");
  Bytes sent;

  EXPECT_EQ(Exchange({IDC_KDOBJ_QUERY}), "AT+KDOBJ?\r\r\n+KDOBJ: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(Exchange({IDC_KDOBJ_OPEN}), "AT+KDOBJ=1,1\r\r\nOK\r\n");
  EXPECT_EQ(Exchange({IDC_KDOBJ_QUERY}), "AT+KDOBJ?\r\r\n+KDOBJ: 1\r\n\r\nOK\r\n");
  Append(sent, "AT+KDOBJ?\r\nAT+KDOBJ=1,1\r\nAT+KDOBJ?\r\n");

  // The title: the announced 8 bytes and nothing after them.
  EXPECT_EQ(Exchange({IDC_KDOBJ_TITLE_CMD, IDC_KDOBJ_TITLE}), "AT+KDOBJ=2,1,3,0,8\r\r\nOK\r\n");
  Append(sent, "AT+KDOBJ=2,1,3,0,8\r\nquor_vix");

  // The object's content, raw, after the command that announces its size.
  EXPECT_EQ(Exchange({IDC_KDOBJ_OBJECT_CMD, IDC_KDOBJ_SEND}), "AT+KDOBJ=2,1,0,1,1000\r\r\nOK\r\n");
  Append(sent, "AT+KDOBJ=2,1,0,1,1000\r\n");
  sent.insert(sent.end(), content.begin(), content.end());

  // The list command leaves the read command for the user to complete.
  EXPECT_EQ(Exchange({IDC_KPSL_CMD}), "AT+CSCS=\"GSM\";+KPSL=\"SOUNDS\",1\r\r\nOK\r\n");
  EXPECT_EQ(dlg.Item<QComboBox>(IDC_SENDLINE_TEXT)->currentText(), "AT+KPSR=");
  Append(sent, "AT+CSCS=\"GSM\";+KPSL=\"SOUNDS\",1\r\n");

  // The framed object: exactly the announced count follows the write command.
  ASSERT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",1032");
  const std::size_t before = sent.size() + std::string("AT+KPSW=\"WAV\",1032\r\n").size();
  EXPECT_EQ(Exchange({IDC_KPSW_CMD, IDC_KPSW_SEND}), "AT+KPSW=\"WAV\",1032\r\r\nOK\r\n");
  const Bytes wire = SentLog(before + 1032);
  ASSERT_EQ(wire.size(), before + 1032) << "the bytes after the command equal its count";
  Append(sent, "AT+KPSW=\"WAV\",1032\r\n");
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + std::ptrdiff_t(sent.size())), sent);

  EXPECT_EQ(Exchange({IDC_KDOBJ_CLOSE}), "AT+KDOBJ=1,0\r\r\nOK\r\n");

  // The file grows after the caption was made: the stale count cuts the object short and the
  // phone refuses it.
  WriteBytes("ring.tone.wav", Bytes(1100, 'w'));
  ASSERT_EQ(Caption(IDC_KPSW_CMD), "AT+KPSW=\"WAV\",1032");
  const QString refused = Exchange({IDC_KPSW_CMD, IDC_KPSW_SEND});
  EXPECT_TRUE(refused.startsWith("AT+KPSW=\"WAV\",1032\r\r\nERROR\r\n")) << refused.toStdString();
}
