#include "journal/ui/JournalDialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "BulkCards.h"
#include "journal/ui/Csv.h"

namespace {

class JournalDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    journal_ = journal::Journal::OpenSqlite(dir_.filePath(QStringLiteral("cards.db")));
  }

  void Write(const char* track2, const char* track3 = nullptr) {
    journal::WrittenCard card;
    card.station = QStringLiteral("counter-1");
    card.tracks.append(journal::WrittenTrack{2, track2, {}, 0});
    if (track3 != nullptr) card.tracks.append(journal::WrittenTrack{3, track3, {}, 0});
    journal_->RecordWrittenCard(card);
    QCoreApplication::sendPostedEvents();
  }

  // Exports through 导出 to file, as chosen in the save dialog; returns the
  // messages shown in boxes.
  QStringList PressExport(const QString& file, journal::ExportFormat format = journal::ExportFormat::csv) {
    QStringList shown;
    dialog_->prompts().chooseExportFile = [&](QWidget*) { return JournalDialog::ExportChoice{file, format}; };
    dialog_->prompts().showMessage = [&](QWidget*, const QString& text) { shown << text; };
    dialog_->findChild<QPushButton*>(QStringLiteral("ExportButton"))->click();
    return shown;
  }

  QString Status() const { return dialog_->findChild<QLabel*>(QStringLiteral("StatusLabel"))->text(); }
  QString Cell(int row, int column) const { return table()->item(row, column)->text(); }
  QTableWidget* table() const { return dialog_->findChild<QTableWidget*>(QStringLiteral("JournalTable")); }

  QTemporaryDir dir_;
  std::unique_ptr<journal::Journal> journal_;
  std::unique_ptr<JournalDialog> dialog_;
};

TEST_F(JournalDialogTest, ControlsCarryNamesAndCaptions) {
  dialog_ = std::make_unique<JournalDialog>(*journal_);
  EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("写卡记录"));
  EXPECT_FALSE(dialog_->isModal());
  const std::pair<const char*, const char*> controls[] = {
      {"SearchEdit", "查找"},    {"DateRangeCheckBox", "按日期"},   {"FromDateEdit", "从"},
      {"ToDateEdit", "到"},      {"ExportButton", "导出"},          {"CloseButton", "关闭"},
      {"ReleaseButton", "释放"}, {"ReservationTable", "未确认卡号"}};
  for (const auto& [name, caption] : controls) {
    auto* widget = dialog_->findChild<QWidget*>(QString::fromLatin1(name));
    ASSERT_NE(widget, nullptr) << name;
    EXPECT_EQ(widget->accessibleName(), QString::fromUtf8(caption)) << name;
  }
  EXPECT_EQ(table()->horizontalHeaderItem(0)->text(), QStringLiteral("时间"));
}

TEST_F(JournalDialogTest, FollowsTheJournalNewestFirstAndExportsWhatItShows) {
  Write("0001");
  dialog_ = std::make_unique<JournalDialog>(*journal_);
  Write("0002");
  Write("0102");
  ASSERT_EQ(table()->rowCount(), 3) << "a card recorded while the dialog is open shows at once";
  EXPECT_EQ(Cell(0, 3), QStringLiteral("0102"));
  EXPECT_EQ(Cell(2, 3), QStringLiteral("0001"));

  dialog_->findChild<QLineEdit*>(QStringLiteral("SearchEdit"))->setText(QStringLiteral("000"));
  ASSERT_EQ(table()->rowCount(), 2);
  EXPECT_EQ(Cell(0, 3), QStringLiteral("0002"));
  Write("0200");
  Write("0003");
  ASSERT_EQ(table()->rowCount(), 3) << "new cards pass the same search";
  EXPECT_EQ(Cell(0, 3), QStringLiteral("0003"));

  const QString file = dir_.filePath(QStringLiteral("out.csv"));
  EXPECT_EQ(PressExport(dir_.filePath(QStringLiteral("out"))), QStringList()) << "the typed name gets .csv";
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), journal::ExportCsv(dialog_->Rows()));
  EXPECT_EQ(dialog_->Rows().size(), 3);
  EXPECT_EQ(Status(), QStringLiteral("已导出 3 条记录到 ") + file);
}

TEST_F(JournalDialogTest, ExportsEveryMatchingCardWhileTheTableShowsTheNewest) {
  AddBulkWrittenCards(dir_.filePath(QStringLiteral("cards.db")), 5003);
  dialog_ = std::make_unique<JournalDialog>(*journal_);
  EXPECT_EQ(table()->rowCount(), 5000);
  const QString file = dir_.filePath(QStringLiteral("all.csv"));
  EXPECT_EQ(PressExport(file), QStringList());
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  const QByteArray bytes = written.readAll();
  EXPECT_EQ(bytes.count("\r\n"), 5004);
  EXPECT_TRUE(bytes.contains(",10000001,")) << "the oldest card too";
  EXPECT_EQ(Status(), QStringLiteral("已导出 5003 条记录到 ") + file);

  // 取消 in the progress dialog, pressed once it shows.
  dialog_->SetProgressDelay(0);
  QTimer cancel;
  QObject::connect(&cancel, &QTimer::timeout, [&] {
    for (auto* progress : dialog_->findChildren<QProgressDialog*>()) {
      if (progress->isVisible()) progress->findChild<QPushButton*>()->click();
    }
  });
  cancel.start(5);
  const QString cancelled = dir_.filePath(QStringLiteral("cancelled.csv"));
  EXPECT_EQ(PressExport(cancelled), QStringList());
  EXPECT_EQ(Status(), QStringLiteral("已取消导出，没有写入文件。"));
  EXPECT_FALSE(QFileInfo::exists(cancelled));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("cancelled")), QStringList());
}

TEST_F(JournalDialogTest, RefusedAndFailedExportsSayWhy) {
  Write("0001");
  dialog_ = std::make_unique<JournalDialog>(*journal_);
  const QString folder = dir_.filePath(QStringLiteral("folder.csv"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const QStringList refused = PressExport(folder);
  ASSERT_EQ(refused.size(), 1);
  EXPECT_TRUE(refused[0].startsWith(folder + QStringLiteral(" 不是普通文件"))) << refused[0].toStdString();
  EXPECT_EQ(PressExport(dir_.filePath(QStringLiteral("none/x.csv"))),
            QStringList{QStringLiteral("文件读写错误，请重试!")});
}

TEST_F(JournalDialogTest, ReadCardsHaveATabWithTheSameSearchAndExport) {
  for (const auto& [two, three] :
       {std::pair<const char*, const char*>{"6222", nullptr}, {nullptr, "0123"}, {"55", "34"}}) {
    journal::ReadCard card;
    card.station = QStringLiteral("counter-1");
    if (two != nullptr) card.track2 = two;
    if (three != nullptr) card.track3 = three;
    journal_->RecordReadCard(card);
  }
  dialog_ = std::make_unique<JournalDialog>(*journal_);
  auto* tabs = dialog_->findChild<QTabWidget*>(QStringLiteral("RecordTabs"));
  ASSERT_EQ(tabs->count(), 2);
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("读卡记录"));
  auto* read = dialog_->findChild<QTableWidget*>(QStringLiteral("ReadCardTable"));
  EXPECT_EQ(read->accessibleName(), QStringLiteral("读卡记录"));
  ASSERT_EQ(read->rowCount(), 3);
  EXPECT_EQ(read->item(0, 2)->text(), QStringLiteral("55"));
  EXPECT_EQ(read->item(1, 3)->text(), QStringLiteral("0123"));

  dialog_->findChild<QLineEdit*>(QStringLiteral("SearchEdit"))->setText(QStringLiteral("12"));
  ASSERT_EQ(read->rowCount(), 1) << "the search looks at track 3 too";
  journal::ReadCard later;
  later.track2 = "9120";
  journal_->RecordReadCard(later);
  QCoreApplication::sendPostedEvents();
  ASSERT_EQ(read->rowCount(), 2) << "a card read while the dialog is open shows at once";

  tabs->setCurrentIndex(1);
  const QString file = dir_.filePath(QStringLiteral("read.csv"));
  EXPECT_EQ(PressExport(file), QStringList());
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = written.readAll().split('\n');
  ASSERT_EQ(lines.size(), 4);
  EXPECT_EQ(lines[0], "\xEF\xBB\xBF时间,工作站,磁道2,磁道3\r");
  EXPECT_TRUE(lines[1].endsWith(",9120,\r")) << lines[1].toStdString();
}

TEST_F(JournalDialogTest, ColumnsFitATimeAndATrack2AndTrack3ShowsWholeAsTooltip) {
  const std::string track2(37, '9');
  const std::string track3(104, '8');
  Write(track2.c_str(), track3.c_str());
  dialog_ = std::make_unique<JournalDialog>(*journal_);
  dialog_->show();
  const QFontMetrics metrics = table()->fontMetrics();
  const int margins = 2 * (table()->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table()) + 1);
  // The time, the run's kind, track 2 and the card's place in its run.
  for (const int column : {0, 2, 3, 5}) {
    const QString text = Cell(0, column);
    EXPECT_GE(table()->visualItemRect(table()->item(0, column)).width(), metrics.horizontalAdvance(text) + margins)
        << text.toStdString();
  }
  EXPECT_EQ(table()->item(0, 4)->toolTip().toStdString(), track3);
}

TEST_F(JournalDialogTest, ReleasesAnUnconfirmedNumberOnlyAfterTheOperatorConfirms) {
  const journal::CardNumber held{2, "0007"};
  journal_->Reserve(QStringLiteral("counter-2"), {{2, "0006"}});
  journal_->Reserve(QStringLiteral("counter-2"), {held});
  journal_->MarkUnconfirmed(QStringLiteral("counter-2"), {held}, journal::UnconfirmedReason::timeout);
  dialog_ = std::make_unique<JournalDialog>(*journal_);
  auto* reservations = dialog_->findChild<QTableWidget*>(QStringLiteral("ReservationTable"));
  auto* release = dialog_->findChild<QPushButton*>(QStringLiteral("ReleaseButton"));
  ASSERT_EQ(reservations->rowCount(), 2);
  const int unconfirmed = reservations->item(0, 1)->text() == QStringLiteral("0007") ? 0 : 1;
  EXPECT_EQ(reservations->item(unconfirmed, 2)->text(), QStringLiteral("未确认（超时）"));

  reservations->selectRow(1 - unconfirmed);
  EXPECT_FALSE(release->isEnabled()) << "a number being written now is not released";
  reservations->selectRow(unconfirmed);
  ASSERT_TRUE(release->isEnabled());

  QStringList asked;
  bool answer = false;
  dialog_->prompts().confirmRelease = [&](QWidget*, const QString& question) {
    asked << question;
    return answer;
  };
  release->click();
  EXPECT_EQ(journal_->Holder(held)->state, journal::NumberState::unconfirmed) << "否 keeps it";
  answer = true;
  release->click();
  EXPECT_FALSE(journal_->Holder(held));
  ASSERT_EQ(asked.size(), 2);
  EXPECT_TRUE(asked[0].contains(QStringLiteral("0007"))) << asked[0].toStdString();
  EXPECT_EQ(reservations->rowCount(), 1);
}

}  // namespace
