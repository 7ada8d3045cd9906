#include "journal/ui/JournalDialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class JournalDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    journal_ = journal::Journal::OpenSqlite(dir_.filePath(QStringLiteral("cards.db")));
  }

  void Write(const char* track2) {
    journal::WrittenCard card;
    card.station = QStringLiteral("counter-1");
    card.tracks.append(journal::WrittenTrack{2, track2, {}, 0});
    journal_->RecordWrittenCard(card);
    QCoreApplication::sendPostedEvents();
  }

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
      {"SearchEdit", "查找"}, {"DateRangeCheckBox", "按日期"}, {"FromDateEdit", "从"},
      {"ToDateEdit", "到"},   {"ExportButton", "导出"},       {"CloseButton", "关闭"},
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
  dialog_->SetExportFileChooser([&](QWidget*) { return file; });
  dialog_->findChild<QPushButton*>(QStringLiteral("ExportButton"))->click();
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll(), journal::ExportCsv(dialog_->Rows()));
  EXPECT_EQ(dialog_->Rows().size(), 3);
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
  dialog_->SetReleaseConfirmer([&](QWidget*, const QString& question) {
    asked << question;
    return answer;
  });
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
