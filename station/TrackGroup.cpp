#include "station/TrackGroup.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>

#include "core/Texts.h"
#include "station/ControlNaming.h"
#include "station/FieldKeyFilter.h"
#include "station/TrackText.h"
#include "ui/KeyFilters.h"

namespace station {

TrackGroup TrackGroup::Build(int track, QWidget* panel, int top) {
  const QString n = QString::number(track);
  const int limit = track == 2 ? 37 : 104;
  const int shownLimit = track == 1 ? 76 : limit;
  const QString caption = QStringLiteral("磁道%1数据").arg(n);

  auto* group = Named(new QGroupBox(panel), QStringLiteral("TK%1GroupBox").arg(n), caption);
  group->setGeometry(4, top, 358, 120);

  const QString boxText = QStringLiteral("%1(0/%2)").arg(caption).arg(shownLimit);
  auto* trackBox = Named(new QCheckBox(boxText, group), QStringLiteral("TK%1CheckBox").arg(n), boxText);
  trackBox->setAutoFillBackground(true);  // covers the frame line, so the box reads as the group's title
  trackBox->setGeometry(8, 0, 130, 18);

  auto* fileLabel = NamedLive(new QLabel(QString::fromUtf8(kNoFileCaption), group), QStringLiteral("tk%1disp").arg(n));
  fileLabel->setGeometry(144, 1, 208, 16);

  auto* field = Named(new QPlainTextEdit(group), QStringLiteral("Track%1Memo").arg(n), caption);
  field->setGeometry(8, 20, 342, 36);
  field->setTabChangesFocus(true);
  field->setAttribute(Qt::WA_InputMethodEnabled, false);  // only directly typed characters reach a track field
  field->setInputMethodHints(Qt::ImhLatinOnly | Qt::ImhNoPredictiveText);
  field->setProperty("maxTypedLength", track == 1 ? 104 : limit);

  const QString stepCaption = QStringLiteral("增量");
  const QString startCaption = QStringLiteral("开始记录号");
  StaticLabel(group, QStringLiteral("TK%1StepLabel").arg(n), stepCaption, QRect(150, 58, 60, 14));
  StaticLabel(group, QStringLiteral("TK%1FileStepLabel").arg(n), startCaption, QRect(250, 58, 80, 14));

  const QString continuousText = QStringLiteral("磁道%1连续写卡").arg(n);
  auto* continuousBox =
      Named(new QCheckBox(continuousText, group), QStringLiteral("TK%1AutoIncCheckBox").arg(n), continuousText);
  continuousBox->setGeometry(8, 74, 136, 20);
  auto* stepField = LineField(group, QStringLiteral("TK%1StepEdit").arg(n), stepCaption, QStringLiteral("1"),
                              track == 2 ? 9 : 1, QRect(150, 73, 90, 20));
  auto* startField = LineField(group, QStringLiteral("tk%1file_step").arg(n), startCaption, QStringLiteral("1"),
                               track == 1 ? 1 : 7, QRect(250, 73, 50, 20));

  const QString fileText = QStringLiteral("文件数据写卡");
  auto* fileBox = Named(new QCheckBox(fileText, group), QStringLiteral("tk%1filename").arg(n), fileText);
  fileBox->setGeometry(8, 96, 136, 20);
  const QString browseName = track == 1 ? QStringLiteral("tk1sb") : QStringLiteral("tk%1Sb").arg(n);
  auto* browse = Named(new QToolButton(group), browseName, QStringLiteral("浏览"));
  browse->setText(QStringLiteral("浏览"));
  browse->setGeometry(150, 96, 50, 20);

  for (QLineEdit* edit : {stepField, startField}) {
    // Typed letters would become capitals; the key filters admit none anyway.
    edit->setInputMethodHints(Qt::ImhPreferUppercase | Qt::ImhDigitsOnly);
  }

  return {group, trackBox, field, continuousBox, stepField, fileBox, browse, startField, fileLabel};
}

TrackForm TrackGroup::Snapshot() const {
  TrackForm form;
  form.ticked = trackBox->isChecked();
  form.continuous = continuousBox->isChecked();
  form.step = stepField->text().toLatin1().toStdString();
  form.fileBox = fileBox->isChecked();
  form.text = TrackBytes(*memo);
  return form;
}

void TrackGroup::FilterKeys(FieldKeyFilter& filter, int track) const {
  // Track 1 has no character filter, only its length; a start record may
  // hold a 0 inside it ("10"), and empty or 0 means record 1.
  filter.Watch(memo, track == 1 ? nullptr : AdmitsTrackData);
  filter.Watch(stepField, AdmitsNonZeroDigit);
  filter.Watch(startRecordField, track == 1 ? AdmitsNonZeroDigit : AdmitsDigit);
}

}  // namespace station
