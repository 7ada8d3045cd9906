// The card station's window on COM1 against the card device emulator: a
// continuous run of ten cards, one card read back, the list saved. Run by
// scripts/wine-station-tests, which starts the emulator on Linux, maps COM1 of
// a fresh Wine prefix to its line and swipes each card it is asked for. On
// Windows, COM1 is a null-modem link to a machine running the emulator.
// CARDSIM_DECK names the emulator's deck file as this program sees it; without
// it the test is skipped. With CARDSTATION_TEST_PG_URI the journal is the one
// on that PostgreSQL server (over TCP under Wine), else a file.
#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "StationDriving.h"
#include "journal/Journal.h"
#include "settings/SettingsFile.h"
#include "station/MainWindow.h"
#include "station/WrittenCardList.h"

namespace {

namespace fs = std::filesystem;

// Track 2 of every card in the emulator's deck file, in deck order.
std::vector<std::string> DeckTrack2(const fs::path& deck) {
  std::ifstream in(deck, std::ios::binary);
  std::vector<std::string> cards;
  for (std::string line; std::getline(in, line);) cards.push_back(line.substr(0, line.find('\t')));
  return cards;
}

class StationOnComPort : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString deck = qEnvironmentVariable("CARDSIM_DECK");
    if (deck.isEmpty()) GTEST_SKIP() << "CARDSIM_DECK is not set: no emulator on COM1";
    deck_ = fs::path(deck.toStdU16String());
    ASSERT_TRUE(dir_.isValid());
    folder_ = fs::path(dir_.path().toStdU16String());

    StationConfig config;
    config.portName = [] { return std::string("com1"); };
    // No [Ports] entry: COM1 is the system's own port.
    const fs::path ini = folder_ / "VavizEvu.ini";
    config.devicePath = [ini](std::uint16_t port) {
      return settings::DevicePathForPort(port, settings::SettingsFile(ini));
    };
    config.listFolder = [this] { return folder_; };
    config.journalFolder = folder_;
    config.stationName = "wine";
    config.database = qEnvironmentVariable("CARDSTATION_TEST_PG_URI").toStdString();
    config.duplicateCheck = false;
    form_ = std::make_unique<TForm1>(config);
    form_->SetPrompts(std::make_unique<QuietPrompts>(&shown_));
    form_->show();
  }

  template <typename T>
  T* Control(const char* name) {
    return FindControl<T>(*form_, name);
  }

  void Click(const char* name) { Control<QAbstractButton>(name)->click(); }

  QStringList ListLines() { return Control<QPlainTextEdit>("Memo1")->toPlainText().split('\n', Qt::SkipEmptyParts); }

  // Lets a screenshot be taken of the window as it is now (scripts/wine-station-tests --screenshot).
  void HoldForScreenshot() {
    const QString hold = qEnvironmentVariable("STATION_SCREENSHOT_HOLD");
    if (hold.isEmpty()) return;
    QFile(hold + QStringLiteral(".ready")).open(QIODevice::WriteOnly);
    WaitUntil([&] { return QFile::exists(hold + QStringLiteral(".done")); }, 60000);
  }

  QTemporaryDir dir_;
  fs::path folder_;
  fs::path deck_;
  QStringList shown_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(StationOnComPort, WritesTenCardsReadsOneBackAndSavesTheList) {
  // A server slowed down by a busy machine can miss the first opening; the
  // station opens its journal again by itself.
  EXPECT_TRUE(WaitUntil([&] { return form_->journal() != nullptr; }, 30000))
      << "the journal needs the SQLite driver, or the server did not answer; shown: " << shown_.join('|').toStdString();

  Click("ToolButton5");  // 端口打开
  auto* track2 = Control<QCheckBox>("TK2CheckBox");
  ASSERT_TRUE(WaitUntil([&] { return track2->isEnabled(); }, 10000))
      << "the port did not open; shown: " << shown_.join('|').toStdString();

  track2->click();
  Control<QPlainTextEdit>("Track2Memo")->setPlainText(QStringLiteral("0099"));
  Control<QCheckBox>("TK2AutoIncCheckBox")->click();
  Control<QLineEdit>("TK2StepEdit")->setText(QStringLiteral("1"));
  Control<QLineEdit>("WriteCountEdit")->setText(QStringLiteral("10"));
  Click("BitBtn3");  // 写卡

  QStringList expected;
  std::vector<std::string> numbers;
  for (int n = 99; n < 109; ++n) {
    numbers.push_back(QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0')).toStdString());
    expected << QStringLiteral("磁道1卡号:") + QString::fromStdString(numbers.back());
  }
  ASSERT_TRUE(WaitUntil([&] { return ListLines().size() >= 10; }, 90000))
      << "written: " << ListLines().join('|').toStdString() << "; shown: " << shown_.join('|').toStdString();
  EXPECT_EQ(ListLines(), expected);
  ASSERT_TRUE(WaitUntil([&] { return DeckTrack2(deck_).size() >= 10; }, 10000));
  EXPECT_EQ(DeckTrack2(deck_), numbers);

  // The emulator hands over card 1 when a read is armed.
  auto* field = Control<QPlainTextEdit>("Track2Memo");
  field->clear();
  Click("BitBtn1");  // 读卡
  EXPECT_TRUE(WaitUntil([&] { return field->toPlainText() == QStringLiteral("0099"); }, 30000))
      << "read: " << field->toPlainText().toStdString() << "; shown: " << shown_.join('|').toStdString();
  HoldForScreenshot();
  Click("ToolButton6");  // 端口关闭

  Click("SpeedButton1");  // 保存
  std::vector<fs::path> saved;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    if (entry.path().extension() == ".txt") saved.push_back(entry.path());
  }
  ASSERT_EQ(saved.size(), 1U) << "shown: " << shown_.join('|').toStdString();
  std::ifstream in(saved.front(), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::string first = station::CardListLineBytes(2, "0099") + "\r\n";
  EXPECT_EQ(bytes.substr(0, first.size()), first);
  EXPECT_EQ(bytes.size(), 10 * first.size());
}

}  // namespace
