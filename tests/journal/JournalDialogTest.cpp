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
      {"ToDateEdit", "到"},   {"ExportButton", "导出"},       {"CloseButton", "关闭"}};
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

}  // namespace
