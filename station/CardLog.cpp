#include <QAbstractTextDocumentLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <string>
#include <utility>
#include <vector>

#include "station/MainWindow.h"
#include "station/WrittenCardList.h"
#include "ui/FitLabel.h"
#include "ui/PathText.h"

namespace {

const QString kTrack2Label = QString::fromUtf8(station::kTrack2CardLabel);
const QString kTrack3Label = QString::fromUtf8(station::kTrack3CardLabel);

// The saved bytes of one list line: the label in GBK, the track text's
// characters as the single bytes they stand for.
std::string LineBytes(const QString& line) {
  for (const int track : {2, 3}) {
    const QString& label = track == 2 ? kTrack2Label : kTrack3Label;
    if (line.startsWith(label)) return station::CardListLineBytes(track, line.mid(label.size()).toLatin1().toStdString());
  }
  return line.toLatin1().toStdString();
}

}  // namespace

void TForm1::AppendWrittenCard(int track, const QString& text, std::int64_t cardId) {
  Memo1->appendPlainText((track == 2 ? kTrack2Label : kTrack3Label) + text);
  cardLines_.emplace_back(cardId, track);
}

int TForm1::CardLogDisplayLines() const {
  const QTextDocument* document = Memo1->document();
  if (document->isEmpty()) return 0;
  QAbstractTextDocumentLayout* layout = document->documentLayout();
  int lines = 0;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    // The view lays out only what it has shown; asking for the block's
    // rectangle lays out the rest at the view's width.
    layout->blockBoundingRect(block);
    lines += block.layout()->lineCount();
  }
  return lines;
}

void TForm1::SaveCardLog() {
  std::vector<std::string> lines;
  const QTextDocument* document = Memo1->document();
  if (!document->isEmpty()) {
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
      lines.push_back(LineBytes(block.text()));
    }
  }
  const std::filesystem::path folder = cardListFolder_.empty() ? config_.listFolder() : cardListFolder_;
  const std::filesystem::path file = station::SaveCardList(folder, station::CurrentLocalDateTime(), lines);
  const std::vector<std::pair<std::int64_t, int>> saved = std::exchange(cardLines_, {});
  Memo1->clear();
  journalLink_.RecordListSave(file, saved);
  MainStatusBarPanels[2]->SetFullText(QStringLiteral("已保存到 ") + ui::PathToQString(file));
}

void TForm1::SpeedButton1Click() { SaveCardLog(); }

void TForm1::EnforceCardLogLimit() {
  if (CardLogDisplayLines() < station::kCardLogLineLimit) return;
  try {
    SaveCardLog();
  } catch (const std::exception& e) {
    // Runs inside reply handling, whose errors are dropped silently; a failed
    // save must still reach the operator, and the lines stay for the next try.
    prompts().Error(QString::fromUtf8(e.what()));
  }
}
