// The port selection dialog and the presence test behind it.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <map>
#include <memory>

#include "PtyFixture.h"
#include "portselect/PortSelectDialog.h"
#include "serial/ComPort.h"
#include "serial/PosixDispatcher.h"

namespace {

struct PortMap {
  std::map<uint16_t, std::unique_ptr<TPty>> ptys;
  explicit PortMap(std::initializer_list<uint16_t> numbers) {
    for (uint16_t n : numbers) ptys[n] = std::make_unique<TPty>();
  }
  std::function<std::string(uint16_t)> Resolver() const {
    return [this](uint16_t n) -> std::string {
      auto it = ptys.find(n);
      return it != ptys.end() ? it->second->Path : "/nonexistent/ttyS" + std::to_string(n);
    };
  }
};

TEST(PortSelect, ListsPresentPortsUpToFiftyIncludingHeldOnes) {
  PortMap map{1, 3, 12, 51};
  // Port 3 is held by another holder of the device lock: it is listed all the same.
  int held = ::open(map.ptys[3]->Path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  const auto resolver = map.Resolver();
  TComSelectForm form([&](uint16_t n) { return IsPortPresent(n, resolver); });
  ::close(held);

  ASSERT_EQ(form.PortsComboBox->count(), 3);
  EXPECT_EQ(form.PortsComboBox->itemText(0), "COM1");
  EXPECT_EQ(form.PortsComboBox->itemText(1), "COM3");
  EXPECT_EQ(form.PortsComboBox->itemText(2), "COM12");
  EXPECT_EQ(form.SelectedPort(), 1);
  form.PortsComboBox->setCurrentIndex(2);
  EXPECT_EQ(form.SelectedPort(), 12);
  EXPECT_FALSE(IsPortPresent(0, resolver));
}

// Another program's port keeps its line, its exclusive flag and its unread input
// through the presence test; a file that is no terminal is not a port.
TEST(PortSelect, PresenceTestLeavesAHeldPortAsItWas) {
  TPty pty;
  termios cooked{};
  ASSERT_EQ(::tcgetattr(pty.Slave, &cooked), 0);
  cooked.c_lflag |= ICANON | ECHO;
  ::cfsetospeed(&cooked, B1200);
  ASSERT_EQ(::tcsetattr(pty.Slave, TCSANOW, &cooked), 0);
  ASSERT_EQ(::ioctl(pty.Slave, TIOCEXCL), 0);
  ASSERT_TRUE(pty.Write("pending\n"));
  ASSERT_TRUE(WaitUntil([&] {
    int n = 0;
    return ::ioctl(pty.Slave, FIONREAD, &n) == 0 && n == 8;
  }));

  EXPECT_TRUE(ProbeSerialDevice(pty.Path));

  termios after{};
  ASSERT_EQ(::tcgetattr(pty.Slave, &after), 0);
  EXPECT_EQ(after.c_lflag, cooked.c_lflag);
  EXPECT_EQ(::cfgetospeed(&after), B1200);
  int excl = 0;
  EXPECT_EQ(::ioctl(pty.Slave, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 1);
  int unread = 0;
  EXPECT_EQ(::ioctl(pty.Slave, FIONREAD, &unread), 0);
  EXPECT_EQ(unread, 8);
  ::ioctl(pty.Slave, TIOCNXCL);

  EXPECT_FALSE(ProbeSerialDevice("/dev/null"));
  EXPECT_FALSE(ProbeSerialDevice("/dev/ptmx"));
  EXPECT_FALSE(ProbeSerialDevice("/nonexistent/ttyS0"));
}

TEST(PortSelect, ControlsCarryTheirNamesAndCaptions) {
  TComSelectForm form([](uint16_t) { return false; }, QStringLiteral("COM0"));
  // In the operator's language, naming the port the settings hold.
  EXPECT_EQ(form.windowTitle(), QStringLiteral("选择端口"));
  EXPECT_EQ(form.Label1->text(), QStringLiteral("设置的端口 COM0 无效。"));
  EXPECT_EQ(TComSelectForm([](uint16_t) { return false; }).Label1->text(), QStringLiteral("设置的端口无效。"));
  struct Row {
    QWidget* w;
    const char* name;
    const char* caption;
  };
  const Row rows[] = {{form.OkBtn, "OkBtn", "确定"},
                      {form.AbortBtn, "AbortBtn", "取消"},
                      {form.PortsComboBox, "PortsComboBox", "请选择读写器所在的端口："},
                      {form.Label1, "Label1", "设置的端口 COM0 无效。"},
                      {form.Label2, "Label2", "请选择读写器所在的端口："},
                      {form.Bevel1, "Bevel1", ""}};
  for (const Row& r : rows) {
    EXPECT_EQ(r.w->objectName(), r.name);
    EXPECT_EQ(r.w->accessibleDescription(), r.name);
    EXPECT_EQ(r.w->accessibleName(), QString::fromUtf8(r.caption)) << r.name;
    // The fixed-size dialog shows every caption whole.
    if (auto* label = qobject_cast<QLabel*>(r.w)) {
      EXPECT_LE(label->sizeHint().width() + label->x(), form.width()) << r.name;
    }
  }
  EXPECT_TRUE(form.OkBtn->isDefault());
  EXPECT_FALSE(form.PortsComboBox->isEditable());
  // Tab order: OK, Cancel, the list (and round again).
  auto nextTab = [](QWidget* w) {
    do w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus));
    return w;
  };
  EXPECT_EQ(nextTab(form.OkBtn), form.AbortBtn);
  EXPECT_EQ(nextTab(form.AbortBtn), form.PortsComboBox);
  EXPECT_EQ(nextTab(form.PortsComboBox), form.OkBtn);
  EXPECT_EQ(form.size(), QSize(220, 131));
  // Nothing to choose: OK then gives no port, which the component treats as Cancel.
  EXPECT_EQ(form.PortsComboBox->count(), 0);
  EXPECT_EQ(form.SelectedPort(), 0);
}

TEST(PortSelect, ItemTextToPortNumber) {
  struct Row {
    const char* item;
    uint16_t port;
  };
  const Row rows[] = {{"COM1", 1}, {"COM12", 12}, {"COM", 0}, {"COMx", 0}, {"", 0}};
  for (const Row& r : rows) EXPECT_EQ(PortNumberOfItem(r.item), r.port) << r.item;
}

TEST(PortSelect, ComponentOpensTheChosenPort) {
  PortMap map{12};
  TSerComPort port;
  port.SetPortResolver(map.Resolver());
  std::vector<uint16_t> offered;
  port.SetPortPrompt([&](const std::function<bool(uint16_t)>& isPresent) -> uint16_t {
    offered = PresentPorts(isPresent);
    return offered.empty() ? 0 : offered.back();
  });
  port.SetOpen(true);
  EXPECT_EQ(offered, std::vector<uint16_t>{12});
  EXPECT_EQ(port.ComNumber(), 12);
  EXPECT_TRUE(port.Open());
  port.SetOpen(false);
}

TEST(DeviceLayer, PseudoTerminalHasNoModemLinesButOpens) {
  TPty pty;
  TSerPosixDispatcher d(nullptr);
  ASSERT_GE(d.OpenComDevice(pty.Path, 64, 64), 0);
  EXPECT_FALSE(d.HasModemLines());
  EXPECT_EQ(d.GetModemLines(), 0);
  EXPECT_EQ(d.EscapeComFunction(EscSetDtr), 0);  // nothing to switch: not a failure
  EXPECT_EQ(d.EscapeComFunction(EscClrRts), 0);

  TSerLineSettings line;
  ASSERT_EQ(d.GetComState(line), 0);
  line.BaudRate = 9600;
  line.XonChar = line.XoffChar = 0xFF;
  EXPECT_EQ(d.SetComState(line), 0);  // equal characters while software flow is off
  line.OutX = true;
  EXPECT_LT(d.SetComState(line), 0);
  line.OutX = false;
  line.BaudRate = 12345;
  EXPECT_LT(d.SetComState(line), 0);

  // A second opener is refused as "in use".
  TSerPosixDispatcher second(nullptr);
  EXPECT_EQ(second.OpenComDevice(pty.Path, 64, 64), -5);
  EXPECT_EQ(d.CloseComDevice(), 0);
  EXPECT_GE(second.OpenComDevice(pty.Path, 64, 64), 0);
  second.CloseComDevice();
}

// A port another program holds with the exclusive flag alone is refused even
// for root, and its flag and line survive the attempt; a port we opened gets
// its earlier line settings back when we close it.
TEST(DeviceLayer, ExclusiveFlagIsRespectedAndTheLineIsPutBack) {
  TPty pty;
  termios before{};
  ASSERT_EQ(::tcgetattr(pty.Slave, &before), 0);
  before.c_lflag |= ICANON | ECHO;
  ::cfsetospeed(&before, B1200);
  ASSERT_EQ(::tcsetattr(pty.Slave, TCSANOW, &before), 0);
  ASSERT_EQ(::tcgetattr(pty.Slave, &before), 0);

  ASSERT_EQ(::ioctl(pty.Slave, TIOCEXCL), 0);
  TSerPosixDispatcher refused(nullptr);
  EXPECT_EQ(refused.OpenComDevice(pty.Path, 64, 64), -5);
  EXPECT_EQ(refused.OpenFailure().Cause, ofBusy);
  EXPECT_EQ(refused.OpenFailure().Path, pty.Path);
  // This very process holds the slave side.
  EXPECT_EQ(refused.OpenFailure().HolderPid, ::getpid());
  EXPECT_FALSE(refused.OpenFailure().HolderName.empty());
  int excl = 0;
  ASSERT_EQ(::ioctl(pty.Slave, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 1) << "a flag we did not set stays set";
  ASSERT_EQ(::ioctl(pty.Slave, TIOCNXCL), 0);

  TSerPosixDispatcher d(nullptr);
  ASSERT_GE(d.OpenComDevice(pty.Path, 64, 64), 0);
  termios during{};
  ASSERT_EQ(::tcgetattr(pty.Slave, &during), 0);
  EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(d.CloseComDevice(), 0);
  termios after{};
  ASSERT_EQ(::tcgetattr(pty.Slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(::cfgetospeed(&after), B1200);
  ASSERT_EQ(::ioctl(pty.Slave, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 0);
}

}  // namespace
