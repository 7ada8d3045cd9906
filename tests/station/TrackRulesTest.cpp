#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryFile>
#include <QToolButton>

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "StationTestSupport.h"

namespace {

enum class Mode { Off, Normal, Continuous, FileNoFile, FileLoaded, Inconsistent };

const char* ModeName(Mode m) {
  switch (m) {
    case Mode::Off: return "Off";
    case Mode::Normal: return "Normal";
    case Mode::Continuous: return "Continuous";
    case Mode::FileNoFile: return "FileNoFile";
    case Mode::FileLoaded: return "FileLoaded";
    case Mode::Inconsistent: break;
  }
  return "Inconsistent";
}

enum class Event { TickTrack, UntickTrack, TickContinuous, UntickContinuous, TickFile, UntickFile, FileRunEnds };

struct TrackView {
  QCheckBox* trackBox;
  QCheckBox* continuousBox;
  QCheckBox* fileBox;
  QPlainTextEdit* field;
  QLineEdit* step;
  QToolButton* browse;
  QLabel* fileLabel;
  const station::FileTrack* file;
  RecordingPrompts::Log* log;  // where the browse button's file comes from
};

TrackView View(Station& s, int track) {
  const TForm1& f = s.form;
  if (track == 2) {
    return {Find<QCheckBox>(f, "TK2CheckBox"),
            Find<QCheckBox>(f, "TK2AutoIncCheckBox"),
            Find<QCheckBox>(f, "tk2filename"),
            Find<QPlainTextEdit>(f, "Track2Memo"),
            Find<QLineEdit>(f, "TK2StepEdit"),
            Find<QToolButton>(f, "tk2Sb"),
            Find<QLabel>(f, "tk2disp"),
            &f.session().files()[2],
            s.log.get()};
  }
  return {Find<QCheckBox>(f, "TK3CheckBox"),
          Find<QCheckBox>(f, "TK3AutoIncCheckBox"),
          Find<QCheckBox>(f, "tk3filename"),
          Find<QPlainTextEdit>(f, "Track3Memo"),
          Find<QLineEdit>(f, "TK3StepEdit"),
          Find<QToolButton>(f, "tk3Sb"),
          Find<QLabel>(f, "tk3disp"),
          &f.session().files()[3],
          s.log.get()};
}

const QString kTyped = QStringLiteral("0099");
const QString kRecord = QStringLiteral("REC=0001");

// Brings a track into a mode the way the operator would (the port being open);
// "file loaded" browses to recordFile, which holds kRecord.
void Enter(const TrackView& v, Mode mode, const QString& recordFile) {
  v.trackBox->setEnabled(true);
  if (mode == Mode::Off) return;
  v.trackBox->click();
  v.field->setPlainText(kTyped);
  if (mode == Mode::Continuous) v.continuousBox->click();
  if (mode == Mode::FileNoFile || mode == Mode::FileLoaded) v.fileBox->click();
  if (mode == Mode::FileLoaded) {
    v.log->nextFileName = recordFile;
    v.browse->click();
  }
}

void Apply(const TrackView& v, Event event) {
  const auto set = [](QCheckBox* box, bool ticked) {
    if (box->isChecked() != ticked) box->click();
  };
  switch (event) {
    case Event::TickTrack: set(v.trackBox, true); break;
    case Event::UntickTrack: set(v.trackBox, false); break;
    case Event::TickContinuous: set(v.continuousBox, true); break;
    case Event::UntickContinuous: set(v.continuousBox, false); break;
    case Event::TickFile: set(v.fileBox, true); break;
    case Event::UntickFile: set(v.fileBox, false); break;
    case Event::FileRunEnds:  // the writer's end of a file run: by program, not by clicks
      v.fileBox->setChecked(false);
      v.trackBox->setChecked(false);
      break;
  }
}

// Reads the mode back from the controls and checks that everything else the
// mode implies holds; any mismatch is reported and yields Inconsistent.
Mode Observe(const TrackView& v) {
  std::ostringstream bad;
  const auto expect = [&bad](bool ok, const char* what) {
    if (!ok) bad << what << "; ";
  };
  const bool idleLabel = v.fileLabel->isHidden() && v.fileLabel->text() == QStringLiteral("文件名");
  Mode mode = Mode::Inconsistent;
  if (!v.trackBox->isChecked()) {
    expect(!v.continuousBox->isChecked() && !v.continuousBox->isEnabled(), "continuous box unticked and disabled");
    expect(!v.fileBox->isChecked() && !v.fileBox->isEnabled(), "file box unticked and disabled");
    expect(v.field->toPlainText().isEmpty() && !v.field->isEnabled(), "field empty and disabled");
    expect(!v.step->isEnabled(), "step field disabled");
    expect(!v.browse->isEnabled(), "browse disabled");
    expect(idleLabel, "file label hidden and idle");
    mode = Mode::Off;
  } else {
    expect(v.continuousBox->isEnabled() && v.fileBox->isEnabled() && v.step->isEnabled(), "track controls enabled");
    expect(!(v.continuousBox->isChecked() && v.fileBox->isChecked()), "continuous and file exclude each other");
    if (v.fileBox->isChecked()) {
      expect(v.browse->isEnabled() && !v.field->isEnabled(), "browse enabled, field disabled");
      mode = v.fileLabel->isHidden() ? Mode::FileNoFile : Mode::FileLoaded;
    } else {
      expect(!v.browse->isEnabled() && v.field->isEnabled(), "browse disabled, field editable");
      expect(idleLabel, "file label hidden and idle");
      mode = v.continuousBox->isChecked() ? Mode::Continuous : Mode::Normal;
    }
  }
  if (!bad.str().empty()) {
    ADD_FAILURE() << "controls disagree with mode " << ModeName(mode) << ": " << bad.str();
    return Mode::Inconsistent;
  }
  return mode;
}

struct Transition {
  const char* name;
  Mode from;
  Event event;
  Mode to;
};

void PrintTo(const Transition& t, std::ostream* os) { *os << t.name; }

const Transition kTransitions[] = {
    {"OffTickTrack", Mode::Off, Event::TickTrack, Mode::Normal},
    {"OffContinuousUnreachable", Mode::Off, Event::TickContinuous, Mode::Off},
    {"OffFileUnreachable", Mode::Off, Event::TickFile, Mode::Off},
    {"NormalUntickTrack", Mode::Normal, Event::UntickTrack, Mode::Off},
    {"ContinuousUntickTrack", Mode::Continuous, Event::UntickTrack, Mode::Off},
    {"FileNoFileUntickTrack", Mode::FileNoFile, Event::UntickTrack, Mode::Off},
    {"FileLoadedUntickTrack", Mode::FileLoaded, Event::UntickTrack, Mode::Off},
    {"NormalTickContinuous", Mode::Normal, Event::TickContinuous, Mode::Continuous},
    {"ContinuousUntickContinuous", Mode::Continuous, Event::UntickContinuous, Mode::Normal},
    {"NormalTickFile", Mode::Normal, Event::TickFile, Mode::FileNoFile},
    {"ContinuousTickFile", Mode::Continuous, Event::TickFile, Mode::FileNoFile},
    {"FileNoFileUntickFile", Mode::FileNoFile, Event::UntickFile, Mode::Normal},
    {"FileLoadedUntickFile", Mode::FileLoaded, Event::UntickFile, Mode::Normal},
    {"FileNoFileTickContinuous", Mode::FileNoFile, Event::TickContinuous, Mode::Continuous},
    {"FileLoadedTickContinuous", Mode::FileLoaded, Event::TickContinuous, Mode::Continuous},
    {"FileLoadedRunEnds", Mode::FileLoaded, Event::FileRunEnds, Mode::Off},
};

class WritingModeTest : public ::testing::TestWithParam<std::tuple<int, Transition>> {};

TEST_P(WritingModeTest, FollowsTheStateMachine) {
  const auto [track, t] = GetParam();
  QTemporaryFile records;
  ASSERT_TRUE(records.open());
  records.write(kRecord.toLatin1() + "\r\n");
  records.flush();

  Station s;
  const TrackView v = View(s, track);
  Enter(v, t.from, records.fileName());
  ASSERT_EQ(Observe(v), t.from) << "setting up " << ModeName(t.from);
  const QString textBefore = v.field->toPlainText();

  Apply(v, t.event);
  EXPECT_EQ(Observe(v), t.to) << ModeName(t.to) << " expected";

  // The field is emptied only by leaving the track; otherwise it keeps what it
  // showed (the typed text or the last record).
  EXPECT_EQ(v.field->toPlainText(), t.to == Mode::Off ? QString() : textBefore);
  // Leaving a loaded file forgets it: the record file is no longer held open.
  if (t.from == Mode::FileLoaded) {
    EXPECT_FALSE(v.file->file.IsOpen());
    EXPECT_FALSE(v.file->chosen);
  }
}

INSTANTIATE_TEST_SUITE_P(Tracks, WritingModeTest,
                         ::testing::Combine(::testing::Values(2, 3), ::testing::ValuesIn(kTransitions)),
                         [](const auto& info) {
                           return "Track" + std::to_string(std::get<0>(info.param)) + "_" +
                                  std::get<1>(info.param).name;
                         });

TEST(TrackRulesTest, TracksAreIndependent) {
  QTemporaryFile records;
  ASSERT_TRUE(records.open());
  records.write(kRecord.toLatin1() + "\r\n");
  records.flush();
  Station s;
  const TrackView two = View(s, 2);
  const TrackView three = View(s, 3);
  Enter(two, Mode::Continuous, records.fileName());
  Enter(three, Mode::FileLoaded, records.fileName());
  EXPECT_EQ(Observe(two), Mode::Continuous);
  EXPECT_EQ(Observe(three), Mode::FileLoaded);

  Apply(two, Event::UntickTrack);
  EXPECT_EQ(Observe(two), Mode::Off);
  EXPECT_EQ(Observe(three), Mode::FileLoaded);
  EXPECT_EQ(three.field->toPlainText(), kRecord);
}

TEST(TrackRulesTest, DisablingTrackBoxKeepsTrackSettings) {
  Station s;
  const TrackView v = View(s, 2);
  Enter(v, Mode::Continuous, QString());
  v.trackBox->setEnabled(false);  // what closing the port does
  EXPECT_TRUE(v.trackBox->isChecked());
  EXPECT_TRUE(v.continuousBox->isChecked());
  EXPECT_TRUE(v.field->isEnabled());
  EXPECT_EQ(v.field->toPlainText(), kTyped);
}

TEST(TrackRulesTest, TrackOneStaysOutOfReach) {
  Station s;
  Find<QCheckBox>(s.form, "TK1CheckBox")->click();
  Find<QCheckBox>(s.form, "tk1filename")->click();
  EXPECT_FALSE(Find<QCheckBox>(s.form, "TK1CheckBox")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(s.form, "TK1CheckBox")->isEnabled());
  EXPECT_FALSE(Find<QPlainTextEdit>(s.form, "Track1Memo")->isEnabled());
  EXPECT_FALSE(Find<QToolButton>(s.form, "tk1sb")->isEnabled());
}

}  // namespace
