#include "settings/SettingsDialog.h"

#include <QComboBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "TestFiles.h"

namespace {

using testfiles::Slurp;
using testfiles::Spit;

// A control of the dialog by its design name, found as the operator's tools
// find it; a missing one fails the test instead of crashing it.
template <typename T>
T* Control(const TForm2& dialog, const char* name) {
  T* found = dialog.findChild<T*>(QString::fromLatin1(name));
  if (found == nullptr) throw std::logic_error(std::string("no control named ") + name);
  return found;
}
QComboBox* PortBox(const TForm2& dialog) { return Control<QComboBox>(dialog, "cmb1"); }
QComboBox* DeviceBox(const TForm2& dialog) { return Control<QComboBox>(dialog, "cmb2"); }
QLabel* ProbeAnswer(const TForm2& dialog) { return Control<QLabel>(dialog, "Label3"); }
QToolButton* ProbeButton(const TForm2& dialog) { return Control<QToolButton>(dialog, "SpeedButton3"); }
QToolButton* SaveButton(const TForm2& dialog) { return Control<QToolButton>(dialog, "SpeedButton2"); }
QToolButton* CloseButton(const TForm2& dialog) { return Control<QToolButton>(dialog, "SpeedButton1"); }

class SettingsDialogTest : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return std::filesystem::path(dir_.path().toStdString()) / "VavizEvu.ini"; }

  // A dialog on this test's file whose error box records instead of blocking.
  std::unique_ptr<TForm2> Dialog(const std::filesystem::path& path) {
    auto dialog = std::make_unique<TForm2>(nullptr, path, [this] { return devices_; });
    dialog->SetErrorBox([this](const QString& text) { errors_ << text; });
    return dialog;
  }
  std::unique_ptr<TForm2> Dialog() { return Dialog(File()); }

  QTemporaryDir dir_;
  QStringList errors_;
  std::vector<settings::SerialDevice> devices_ = {
      {"/dev/serial/by-id/usb-reader-if00", "/dev/ttyUSB0"}, {"/dev/ttyUSB0", ""}, {"/dev/ttyS0", ""}};
};

TEST_F(SettingsDialogTest, LooksAsDesigned) {
  const auto dialog = Dialog();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("系统设置"));
  EXPECT_EQ(dialog->size(), QSize(360, 220));
  EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
  EXPECT_EQ(Control<QLabel>(*dialog, "Label1")->text(), QStringLiteral("串口设定"));
  EXPECT_EQ(SaveButton(*dialog)->text(), QStringLiteral("保存"));
  EXPECT_EQ(CloseButton(*dialog)->text(), QStringLiteral("关闭"));
  EXPECT_EQ(Control<QLabel>(*dialog, "Label2")->text(), QStringLiteral("设备"));
  EXPECT_EQ(ProbeButton(*dialog)->text(), QStringLiteral("检测"));
  EXPECT_FALSE(PortBox(*dialog)->isEditable());
  EXPECT_TRUE(DeviceBox(*dialog)->isEditable());
  QStringList entries;
  for (int i = 0; i < PortBox(*dialog)->count(); ++i) entries << PortBox(*dialog)->itemText(i);
  EXPECT_EQ(entries, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}));
  for (const char* name : {"Label1", "cmb1", "Label2", "cmb2", "SpeedButton3", "SpeedButton2", "SpeedButton1"}) {
    const QWidget* w = Control<QWidget>(*dialog, name);
    EXPECT_EQ(w->accessibleDescription(), w->objectName());
    EXPECT_FALSE(w->accessibleName().isEmpty()) << name;
  }
  EXPECT_EQ(PortBox(*dialog)->accessibleName(), QStringLiteral("串口设定"));
  EXPECT_EQ(DeviceBox(*dialog)->accessibleName(), QStringLiteral("设备"));
}

struct OpenCase {
  const char* name;
  const char* content;  // nullptr: no settings file
  const char* shown;
};
void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class SettingsDialogOpenTest : public SettingsDialogTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(SettingsDialogOpenTest, ShowsStoredPort) {
  if (GetParam().content != nullptr) Spit(File(), GetParam().content);
  EXPECT_EQ(PortBox(*Dialog())->currentText(), QString::fromLatin1(GetParam().shown));
  EXPECT_TRUE(GetParam().content != nullptr || !std::filesystem::exists(File())) << "opening must not write";
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsDialogOpenTest,
                         ::testing::Values(OpenCase{"NoFile", nullptr, "COM1"},
                                           OpenCase{"StoredCom5", "[Settings]\r\ncomname=COM5\r\n", "COM5"},
                                           OpenCase{"LowerCaseCom3", "[settings]\ncomname=com3\n", "COM3"},
                                           OpenCase{"UnknownValue", "[Settings]\ncomname=COM9\n", "COM1"},
                                           OpenCase{"HandEdited", "[Settings]\ncomname=ttyUSB0\n", "COM1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsDialogTest, SaveWithoutFileCreatesIt) {
  const auto dialog = Dialog();
  dialog->show();
  QTest::mouseClick(SaveButton(*dialog), Qt::LeftButton);
  EXPECT_EQ(Slurp(File()), "[Settings]\ncomname=COM1\n[Ports]\nCOM1=/dev/ttyS0\n");
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(SettingsDialogTest, SaveKeepsEveryOtherByte) {
  const std::string before =
      "[Ports]\r\nCOM2=/dev/ttyUSB1\r\n\r\n[Settings]\r\ncomname=COM5\r\nnote=\xb4\xae\xbf\xda\r\n";
  Spit(File(), before);
  const auto dialog = Dialog();
  PortBox(*dialog)->setCurrentIndex(1);
  QTest::mouseClick(SaveButton(*dialog), Qt::LeftButton);
  std::string expected = before;
  expected.replace(expected.find("COM5"), 4, "COM2");
  EXPECT_EQ(Slurp(File()), expected);
  EXPECT_EQ(PortBox(*Dialog())->currentText(), QStringLiteral("COM2"));
}

TEST_F(SettingsDialogTest, CloseWritesNothing) {
  const std::string before = "[Settings]\ncomname=COM5\n";
  Spit(File(), before);
  {
    const auto dialog = Dialog();
    dialog->show();
    PortBox(*dialog)->setCurrentIndex(1);
    QTest::mouseClick(CloseButton(*dialog), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
  }
  EXPECT_EQ(Slurp(File()), before);
  EXPECT_EQ(PortBox(*Dialog())->currentText(), QStringLiteral("COM5"));
}

TEST_F(SettingsDialogTest, FailedSaveReportsPathAndStaysOpen) {
  const testfiles::ReadOnlyFolder folder;
  const auto path = folder.Path() / "VavizEvu.ini";
  const auto dialog = Dialog(path);
  dialog->show();
  PortBox(*dialog)->setCurrentIndex(3);
  QTest::mouseClick(SaveButton(*dialog), Qt::LeftButton);
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_EQ(errors_.front(), QStringLiteral("无法写入设置文件 %1。").arg(QString::fromStdString(path.string())));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(PortBox(*dialog)->currentText(), QStringLiteral("COM4"));

  // The operator can try again (and fail again) or close the dialog.
  QTest::mouseClick(SaveButton(*dialog), Qt::LeftButton);
  EXPECT_EQ(errors_.size(), 2);
  QTest::mouseClick(CloseButton(*dialog), Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(SettingsDialogTest, DeviceFollowsThePortAndIsSavedForIt) {
  Spit(File(), "[Settings]\ncomname=COM2\n[Ports]\nCOM2=/dev/ttyUSB0\nCOM3=/tmp/reader-link\n");
  const auto dialog = Dialog();
  EXPECT_EQ(DeviceBox(*dialog)->count(), 3);
  EXPECT_EQ(DeviceBox(*dialog)->itemText(0), QStringLiteral("/dev/serial/by-id/usb-reader-if00 → /dev/ttyUSB0"));
  EXPECT_EQ(DeviceBox(*dialog)->currentIndex(), 1) << "the mapping of the stored port is a listed device";
  PortBox(*dialog)->setCurrentIndex(2);
  EXPECT_EQ(DeviceBox(*dialog)->currentText(), QStringLiteral("/tmp/reader-link"));  // mapped, but not listed
  PortBox(*dialog)->setCurrentIndex(3);
  EXPECT_EQ(DeviceBox(*dialog)->currentText(), QStringLiteral("/dev/ttyS3"));  // not mapped: the port's own device
  DeviceBox(*dialog)->setCurrentIndex(0);
  EXPECT_EQ(dialog->ChosenDevice(), "/dev/serial/by-id/usb-reader-if00");
  DeviceBox(*dialog)->setEditText(QStringLiteral("  /dev/ttyACM1 "));
  EXPECT_EQ(dialog->ChosenDevice(), "/dev/ttyACM1");

  QTest::mouseClick(SaveButton(*dialog), Qt::LeftButton);
  EXPECT_EQ(Slurp(File()),
            "[Settings]\ncomname=COM4\n[Ports]\nCOM2=/dev/ttyUSB0\nCOM3=/tmp/reader-link\nCOM4=/dev/ttyACM1\n");
}

// A pseudo-terminal plays the device; the test reads what the dialog sends.
class FakeLine {
 public:
  FakeLine() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
      ::close(slave);
      path_ = name;
    }
  }
  ~FakeLine() {
    if (master_ >= 0) ::close(master_);
  }
  FakeLine(const FakeLine&) = delete;
  FakeLine& operator=(const FakeLine&) = delete;
  const std::string& Path() const { return path_; }
  // Adds what has arrived by now to received; never blocks.
  void Poll(std::string& received) const {
    pollfd p{master_, POLLIN, 0};
    char buffer[64];
    while (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0) {
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) return;
      received.append(buffer, static_cast<std::size_t>(n));
    }
  }
  void Send(std::string_view bytes) const {
    EXPECT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

 private:
  int master_ = -1;
  std::string path_;
};

TEST_F(SettingsDialogTest, ProbeCountsOnlyTheDevicesStatusReply) {
  FakeLine line;
  ASSERT_FALSE(line.Path().empty());
  const auto dialog = Dialog();
  dialog->show();
  DeviceBox(*dialog)->setEditText(QString::fromStdString(line.Path()));
  const QString answered = QStringLiteral("读写器已应答。");
  const QString silent = QStringLiteral("没有读写器应答：请检查连线和电源。");
  struct Row {
    const char* name;
    std::vector<std::string> chunks;  // what the line sends back after the query
    bool answers;
  };
  const std::vector<Row> rows = {
      {"the status reply",
       {"\x1B"
        "ok"},
       true},
      {"noise, then the reply split over two chunks", {"zz\x1B", "ok"}, true},
      {"the query looped back", {"\x1B\x6A"}, false},
      {"noise holding ESC bytes",
       {"\x1B\x55\xAA\x1B"
        "o"},
       false},
      {"nothing", {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // Silence is waited out; an answer ends the probe long before.
    dialog->SetProbeWait(std::chrono::milliseconds(row.answers ? 10000 : 300));
    QTest::mouseClick(ProbeButton(*dialog), Qt::LeftButton);
    EXPECT_TRUE(ProbeAnswer(*dialog)->text().isEmpty());
    std::string received;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          line.Poll(received);
          return received.size() >= 2;
        },
        5000));
    EXPECT_EQ(received, "\x1B\x6A");  // the status query
    for (const std::string& chunk : row.chunks) line.Send(chunk);
    const QString expected = row.answers ? answered : silent;
    EXPECT_TRUE(QTest::qWaitFor([&] { return ProbeAnswer(*dialog)->text() == expected; }, 5000))
        << ProbeAnswer(*dialog)->text().toStdString();
    EXPECT_TRUE(ProbeButton(*dialog)->isEnabled());
  }

  DeviceBox(*dialog)->setEditText(QStringLiteral("/dev/no-such-reader"));
  QTest::mouseClick(ProbeButton(*dialog), Qt::LeftButton);
  EXPECT_EQ(ProbeAnswer(*dialog)->text(), QStringLiteral("串口不存在或被占用。\n设备 /dev/no-such-reader 不存在。"));
}

// Started from another working folder, the dialog saves to the file it was
// given, never to one in the working folder.
TEST_F(SettingsDialogTest, SavesToItsOwnFileFromAnyWorkingFolder) {
  QTemporaryDir elsewhere;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.path().toStdString());
  {
    auto dialog = Dialog();
    PortBox(*dialog)->setCurrentIndex(6);
    QTest::mouseClick(SaveButton(*dialog), Qt::LeftButton);
  }
  const bool inWorkingFolder = std::filesystem::exists(std::filesystem::current_path() / "VavizEvu.ini");
  std::filesystem::current_path(previous);
  EXPECT_TRUE(errors_.isEmpty());
  EXPECT_FALSE(inWorkingFolder);
  EXPECT_EQ(settings::SettingsFile(File()).ReadString("Settings", "comname", ""), "COM7");
  EXPECT_EQ(PortBox(*Dialog())->currentText(), QStringLiteral("COM7"));
}

}  // namespace
