#include "station/TrackRules.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>

#include "core/Texts.h"

namespace station {

void TrackRules::Follow(QObject* context, std::function<void(const std::function<void()>&)> guard) const {
  // The rules tick and untick each other's boxes and rely on the handler
  // firing for those program-made changes too, hence toggled, not clicked.
  const auto onTick = [this, context, guard](QCheckBox* box, void (TrackRules::*rule)(int) const, int track) {
    QObject::connect(box, &QCheckBox::toggled, context,
                     [this, guard, rule, track] { guard([this, rule, track] { (this->*rule)(track); }); });
  };
  for (int track = 1; track <= 3; ++track) {
    const TrackGroup& g = groups_[track];
    onTick(g.trackBox, &TrackRules::TrackBoxChanged, track);
    onTick(g.continuousBox, &TrackRules::ContinuousBoxChanged, track);
    // Track 1 has no record file; its file box follows track 2's rule, as it always has.
    onTick(g.fileBox, &TrackRules::FileBoxChanged, track == 1 ? 2 : track);
  }
}

void TrackRules::SetStartState() const {
  for (int track = 1; track <= 3; ++track) {
    const TrackGroup& g = groups_[track];
    g.trackBox->setChecked(false);
    for (QWidget* w :
         {static_cast<QWidget*>(g.trackBox), static_cast<QWidget*>(g.memo), static_cast<QWidget*>(g.continuousBox),
          static_cast<QWidget*>(g.stepField), static_cast<QWidget*>(g.fileBox), static_cast<QWidget*>(g.browseButton),
          static_cast<QWidget*>(g.startRecordField)}) {
      w->setEnabled(false);
    }
    g.fileLabel->setText(QString::fromUtf8(kNoFileCaption));
    g.fileLabel->hide();
  }
}

void TrackRules::TrackBoxChanged(int track) const {
  const TrackGroup& g = groups_[track];
  const bool ticked = g.trackBox->isChecked();
  if (!ticked) {
    // The file box's rule gives the field back and drops the file.
    g.continuousBox->setChecked(false);
    g.fileBox->setChecked(false);
  }
  for (QWidget* w :
       {static_cast<QWidget*>(g.continuousBox), static_cast<QWidget*>(g.stepField), static_cast<QWidget*>(g.fileBox)}) {
    w->setEnabled(ticked);
  }
  if (ticked) {
    g.memo->setEnabled(true);
    g.browseButton->setEnabled(false);
    return;
  }
  // Emptied and disabled last: the field must end that way whatever mode the
  // track was in.
  DropFileChoice(track);
  g.memo->clear();
  g.memo->setEnabled(false);
}

void TrackRules::ContinuousBoxChanged(int track) const {
  const TrackGroup& g = groups_[track];
  if (g.continuousBox->isChecked()) g.fileBox->setChecked(false);
}

void TrackRules::FileBoxChanged(int track) const {
  const TrackGroup& g = groups_[track];
  const bool ticked = g.fileBox->isChecked();
  if (ticked) {
    g.continuousBox->setChecked(false);
    g.browseButton->setEnabled(true);
  } else {
    DropFileChoice(track);
  }
  g.startRecordField->setEnabled(ticked);
  g.memo->setEnabled(!ticked);
}

void TrackRules::DropFileChoice(int track) const {
  const TrackGroup& g = groups_[track];
  g.browseButton->setEnabled(false);
  g.fileLabel->setText(QString::fromUtf8(kNoFileCaption));
  g.fileLabel->hide();
  // Track 1 has no record file.
  if (track != 1) dropFile_(track);
}

}  // namespace station
