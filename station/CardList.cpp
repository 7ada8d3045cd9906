#include "station/CardList.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <string>

#include "station/WrittenCardList.h"

namespace station {

namespace {

const QString kTrack2Label = QString::fromUtf8(kTrack2CardLabel);
const QString kTrack3Label = QString::fromUtf8(kTrack3CardLabel);

// The saved bytes of one list line: the label in GBK, the track text's
// characters as the single bytes they stand for.
std::string LineBytes(const QString& line) {
  for (const int track : {2, 3}) {
    const QString& label = track == 2 ? kTrack2Label : kTrack3Label;
    if (line.startsWith(label)) return CardListLineBytes(track, line.mid(label.size()).toLatin1().toStdString());
  }
  return line.toLatin1().toStdString();
}

}  // namespace

void CardList::Append(int track, const QString& text, std::int64_t cardId) {
  view_.appendPlainText((track == 2 ? kTrack2Label : kTrack3Label) + text);
  lines_.emplace_back(cardId, track);
}

bool CardList::IsEmpty() const { return view_.document()->isEmpty(); }

int CardList::DisplayLines() const {
  const QTextDocument* document = view_.document();
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

bool CardList::AtLimit() const { return DisplayLines() >= kCardLogLineLimit; }

void CardList::Renumber(std::int64_t from, std::int64_t to) {
  for (auto& line : lines_) {
    if (line.first == from) line.first = to;
  }
}

CardList::Saved CardList::Save(const std::filesystem::path& folder) {
  std::vector<std::string> lines;
  const QTextDocument* document = view_.document();
  if (!document->isEmpty()) {
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
      lines.push_back(LineBytes(block.text()));
    }
  }
  Saved saved{SaveCardList(folder, CurrentLocalDateTime(), lines), std::exchange(lines_, {})};
  view_.clear();
  return saved;
}

}  // namespace station
