// One counter of an office whose stations share one number range on a
// PostgreSQL server: the same test (shared_range_counter) runs as the Windows
// station under Wine and as the Linux station, both at once. scripts/wine-msi-tests starts them, each on its own card
// device emulator, and afterwards compares the emulators' decks and the two
// journal views this test leaves behind.
//
// The environment says what to do; without SHARED_RANGE_FOLDER the test is
// skipped.
//   SHARED_RANGE_FOLDER   a folder both counters and the script see: each
//                         counter puts <counter>.ready there once its port is
//                         open, starts writing when the script has put go
//                         there, and leaves <counter>.view behind
//   SHARED_RANGE_COUNTER  this counter's name; the station is 柜台-<name>
//   SHARED_RANGE_START    the number both counters start from
//   SHARED_RANGE_CARDS    the cards of this counter's continuous run
//   SHARED_RANGE_ROWS     the written cards the journal holds when both are done
//   SHARED_RANGE_DEVICE   the device of COM1, when not the system's own COM1
//   CARDSTATION_TEST_PG_URI  the shared journal
#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "StationDriving.h"
#include "core/Texts.h"
#include "settings/SettingsFile.h"
#include "station/MainWindow.h"

namespace {

namespace fs = std::filesystem;

// Under Wine the Windows station starts slowly; the other counter waits.
constexpr int kStartMs = 120000;
// Both runs at the device's own pace, with each other's numbers in between.
constexpr int kRunMs = 120000;
// The dialog looks for cards written elsewhere every two seconds.
constexpr int kViewMs = 30000;

class SharedNumberRange : public ::testing::Test {
 protected:
  void SetUp() override {
    exchange_ = qEnvironmentVariable("SHARED_RANGE_FOLDER");
    if (exchange_.isEmpty()) GTEST_SKIP() << "SHARED_RANGE_FOLDER is not set: no other counter";
    counter_ = qEnvironmentVariable("SHARED_RANGE_COUNTER");
    start_ = qEnvironmentVariable("SHARED_RANGE_START");
    cards_ = qEnvironmentVariableIntValue("SHARED_RANGE_CARDS");
    rows_ = qEnvironmentVariableIntValue("SHARED_RANGE_ROWS");
    ASSERT_FALSE(counter_.isEmpty() || start_.isEmpty());
    ASSERT_GT(cards_, 0);
    ASSERT_GE(rows_, 2 * cards_);
    ASSERT_FALSE(qEnvironmentVariable("CARDSTATION_TEST_PG_URI").isEmpty());
    ASSERT_TRUE(dir_.isValid());
    const fs::path folder(dir_.path().toStdU16String());

    StationConfig config;
    config.portName = [] { return std::string("com1"); };
    const std::string device = qEnvironmentVariable("SHARED_RANGE_DEVICE").toStdString();
    const fs::path ini = folder / "VavizEvu.ini";
    config.devicePath = [device, ini](std::uint16_t port) {
      return device.empty() ? settings::DevicePathForPort(port, settings::SettingsFile(ini)) : device;
    };
    config.listFolder = [folder] { return folder; };
    config.journalFolder = folder;
    // A Chinese name: both stations must show the other's name as it wrote it.
    config.stationName = (QStringLiteral("柜台-") + counter_).toStdString();
    config.database = qEnvironmentVariable("CARDSTATION_TEST_PG_URI").toStdString();
    // As an office runs them: a number written before is asked about.
    config.duplicateCheck = true;
    form_ = std::make_unique<TForm1>(config);
    form_->SetPrompts(std::make_unique<QuietPrompts>(&shown_, &questions_));
    form_->show();
  }

  template <typename T>
  T* Control(const char* name) {
    return FindControl<T>(*form_, name);
  }
  void Click(const char* name) { Control<QAbstractButton>(name)->click(); }
  QString Exchanged(const QString& name) const { return QDir(exchange_).filePath(name); }
  std::string Shown() const { return shown_.join('|').toStdString(); }

  QString exchange_;
  QString counter_;
  QString start_;
  int cards_ = 0;
  int rows_ = 0;
  QTemporaryDir dir_;
  QStringList shown_;
  QStringList questions_;
  std::unique_ptr<TForm1> form_;
};

// The table of the 写卡记录 dialog, one line per row, its cells apart by tabs.
QByteArray TableText(const QTableWidget& table) {
  QByteArray text;
  for (int r = 0; r < table.rowCount(); ++r) {
    QStringList cells;
    for (int c = 0; c < table.columnCount(); ++c) cells << (table.item(r, c) ? table.item(r, c)->text() : QString());
    text += cells.join('\t').toUtf8() + '\n';
  }
  return text;
}

TEST_F(SharedNumberRange, WritesItsRunFromTheCommonStartAndShowsTheWholeJournal) {
  Click("ToolButton5");  // 端口打开
  auto* track2 = Control<QCheckBox>("TK2CheckBox");
  ASSERT_TRUE(WaitUntil([&] { return track2->isEnabled(); }, 10000)) << "the port did not open; shown: " << Shown();
  track2->click();
  Control<QPlainTextEdit>("Track2Memo")->setPlainText(start_);
  Control<QCheckBox>("TK2AutoIncCheckBox")->click();
  Control<QLineEdit>("TK2StepEdit")->setText(QStringLiteral("1"));
  Control<QLineEdit>("WriteCountEdit")->setText(QString::number(cards_));

  // A server slowed down by a busy machine can miss the first opening; the
  // station opens its journal again by itself.
  ASSERT_TRUE(WaitUntil([&] { return form_->journal() != nullptr; }, 30000))
      << "the journal did not open; shown: " << Shown();
  ASSERT_TRUE(QFile(Exchanged(counter_ + QStringLiteral(".ready"))).open(QIODevice::WriteOnly));
  ASSERT_TRUE(WaitUntil([&] { return QFile::exists(Exchanged(QStringLiteral("go"))); }, kStartMs))
      << "the other counter did not get ready";
  Click("BitBtn3");  // 写卡

  auto* prompt = Control<QLabel>("st1");
  const QString finished = QString::fromUtf8(station::kWriteFinishedBefore) + QString::number(cards_) +
                           QString::fromUtf8(station::kWriteFinishedAfter);
  ASSERT_TRUE(WaitUntil([&] { return prompt->text() == finished; }, kRunMs))
      << "st1: " << prompt->text().toStdString() << "; shown: " << Shown();
  const QStringList lines = Control<QPlainTextEdit>("Memo1")->toPlainText().split('\n', Qt::SkipEmptyParts);
  EXPECT_EQ(lines.size(), cards_);
  for (const QString& line : lines) EXPECT_TRUE(line.startsWith(QStringLiteral("磁道1卡号:"))) << line.toStdString();
  // A number the other station holds is stepped past, never asked about.
  EXPECT_TRUE(questions_.isEmpty()) << "asked: " << questions_.join('|').toStdString();

  // 记录: once the other counter is done too, its cards are in the table, and
  // no number is held any more.
  Click("ToolButton9");
  auto* table = Control<QTableWidget>("JournalTable");
  auto* held = Control<QTableWidget>("ReservationTable");
  ASSERT_TRUE(table && held);
  ASSERT_TRUE(WaitUntil([&] { return table->rowCount() == rows_ && held->rowCount() == 0; }, kRunMs + kViewMs))
      << "rows " << table->rowCount() << " of " << rows_ << ", numbers held " << held->rowCount();
  QFile view(Exchanged(counter_ + QStringLiteral(".view")));
  ASSERT_TRUE(view.open(QIODevice::WriteOnly));
  view.write(TableText(*table));
}

}  // namespace
