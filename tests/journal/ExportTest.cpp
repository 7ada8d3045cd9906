#include "journal/ui/Export.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

#include <sys/stat.h>
#include <unistd.h>

namespace journal {
namespace {

class ExportTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    journal_ = Journal::OpenSqlite(dir_.filePath(QStringLiteral("cards.db")));
  }

  void Write(const std::string& track2, const std::string& track3 = {}) {
    WrittenCard card;
    card.station = QStringLiteral("counter-1");
    card.tracks.append(WrittenTrack{2, track2, {}, 0});
    if (!track3.empty()) card.tracks.append(WrittenTrack{3, track3, {}, 0});
    journal_->RecordWrittenCard(card);
  }

  // The names in the export's folder, beside the journal's own files.
  QStringList Exported(const QString& folder) const {
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.removeIf([](const QString& name) { return name.startsWith(QStringLiteral("cards.db")); });
    return names;
  }

  QTemporaryDir dir_;
  std::unique_ptr<Journal> journal_;
};

TEST_F(ExportTest, PagesHoldEveryMatchingCardOnceNewestFirst) {
  for (int i = 1; i <= 23; ++i) Write(std::to_string(1000 + i));
  CardQuery query;
  query.text = QStringLiteral("101");  // 1010 to 1019: ten cards
  auto source = WrittenCardRows(*journal_, query, 3);
  Write("1099");  // after the source was made: not exported
  EXPECT_EQ(source->Total(), 10);
  QStringList numbers;
  for (QList<QStringList> page = source->NextPage(); !page.isEmpty(); page = source->NextPage()) {
    EXPECT_LE(page.size(), 3);
    for (const QStringList& cells : page) numbers << cells[3];
  }
  ASSERT_EQ(numbers.size(), 10);
  EXPECT_EQ(numbers.front(), QStringLiteral("1019"));
  EXPECT_EQ(numbers.back(), QStringLiteral("1010"));
}

TEST_F(ExportTest, XlsxKeepsNumbersAsTextAndTimesAsDates) {
  if (!XlsxAvailable()) GTEST_SKIP() << "no .xlsx writer in this build";
  Write("0099", std::string(104, '7'));
  Write("=1+2");
  const QString file = dir_.filePath(QStringLiteral("cards.xlsx"));
  auto source = WrittenCardRows(*journal_, CardQuery{});
  ASSERT_EQ(ExportRecords(*source, ExportFormat::xlsx, file).status, ExportResult::Status::written);

  // Read back the way a spreadsheet program would.
  QProcess python;
  // Debian's own Python, which python3-openpyxl installs into.
  python.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-c"),
                QStringLiteral("import sys, openpyxl\n"
                               "ws = openpyxl.load_workbook(sys.argv[1]).active\n"
                               "print(ws.title)\n"
                               "for row in ws.iter_rows(values_only=True):\n"
                               "    print('|'.join(type(v).__name__ + ':' + str(v) for v in row[:5]))\n"
                               "print(ws.column_dimensions['D'].width)\n"),
                file});
  ASSERT_TRUE(python.waitForFinished(60000));
  if (python.exitCode() != 0) GTEST_SKIP() << "python3-openpyxl is not installed";
  const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char('\n'));
  ASSERT_GE(lines.size(), 5);
  EXPECT_EQ(lines[0], QStringLiteral("写卡记录"));
  EXPECT_EQ(lines[1], QStringLiteral("str:时间|str:工作站|str:方式|str:磁道2|str:磁道3"));
  EXPECT_TRUE(lines[2].startsWith(QStringLiteral("datetime:"))) << lines[2].toStdString();
  EXPECT_TRUE(lines[2].endsWith(QStringLiteral("|str:=1+2|NoneType:None"))) << "a formula stays text";
  EXPECT_TRUE(lines[3].endsWith(QStringLiteral("|str:0099|str:") + QString(104, QLatin1Char('7'))));
  EXPECT_GE(lines[4].toDouble(), 37) << "track 2 fits its column";
}

// A target that is not a regular file is refused and left as it was, and
// nothing is left beside it.
TEST_F(ExportTest, RefusesTargetsThatAreNotRegularFiles) {
  Write("0001");
  const QString folder = dir_.filePath(QStringLiteral("out"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString kept = folder + QStringLiteral("/kept.csv");
  QFile keptFile(kept);
  ASSERT_TRUE(keptFile.open(QIODevice::WriteOnly));
  keptFile.write("kept");
  keptFile.close();
  const QString fifo = folder + QStringLiteral("/fifo.csv");
  ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString link = folder + QStringLiteral("/link.csv");
  ASSERT_TRUE(QFile::link(kept, link));
  const QString dangling = folder + QStringLiteral("/dangling.csv");
  ASSERT_TRUE(QFile::link(folder + QStringLiteral("/nowhere.csv"), dangling));
  const QString subfolder = folder + QStringLiteral("/folder.csv");
  ASSERT_TRUE(QDir().mkpath(subfolder));
  const QStringList before = Exported(folder);

  for (const QString& target : {fifo, link, dangling, subfolder, QStringLiteral("/dev/null")}) {
    auto source = WrittenCardRows(*journal_, CardQuery{});
    EXPECT_EQ(ExportRecords(*source, ExportFormat::csv, target).status, ExportResult::Status::notRegularFile)
        << target.toStdString();
  }
  EXPECT_EQ(Exported(folder), before);
  EXPECT_TRUE(QFileInfo(fifo).isSymLink() == false && !QFileInfo(fifo).isFile()) << "the FIFO is still one";
  ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
  EXPECT_EQ(keptFile.readAll(), "kept") << "nothing was written through the link";
  EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/nowhere.csv")));
}

TEST_F(ExportTest, ReplacesARegularFileKeepingItsModeAndMakesNewFilesPrivate) {
  Write("0001");
  auto fresh = WrittenCardRows(*journal_, CardQuery{});
  const QString created = dir_.filePath(QStringLiteral("new.csv"));
  ASSERT_EQ(ExportRecords(*fresh, ExportFormat::csv, created).status, ExportResult::Status::written);
  EXPECT_EQ(QFile::permissions(created) & (QFile::ReadGroup | QFile::ReadOther), 0);
  ASSERT_TRUE(QFile::remove(created));

  const QString file = dir_.filePath(QStringLiteral("old.csv"));
  QFile old(file);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write(QByteArray(100000, 'x'));
  old.close();
  ASSERT_EQ(chmod(QFile::encodeName(file).constData(), 0640), 0);
  auto source = WrittenCardRows(*journal_, CardQuery{});
  ASSERT_EQ(ExportRecords(*source, ExportFormat::csv, file).status, ExportResult::Status::written);
  struct stat info {};
  ASSERT_EQ(stat(QFile::encodeName(file).constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_LT(info.st_size, 1000);
  EXPECT_EQ(Exported(dir_.path()), QStringList{QStringLiteral("old.csv")});
}

// Rows that stop coming half-way: a journal gone wrong, or a cancel.
class FailingSource : public RowSource {
 public:
  explicit FailingSource(bool fail) : fail_(fail) {}
  QList<ExportColumn> Columns() const override { return {{QStringLiteral("磁道2"), CellKind::text, 40}}; }
  QString Name() const override { return QStringLiteral("test"); }
  qint64 Total() override { return 4; }
  QList<QStringList> NextPage() override {
    if (++pages_ > 1 && fail_) throw JournalError("the journal broke");
    return {{QStringLiteral("0001")}, {QStringLiteral("0002")}};
  }

 private:
  bool fail_;
  int pages_ = 0;
};

TEST_F(ExportTest, AnExportThatEndsEarlyLeavesNoFile) {
  for (const ExportFormat format : {ExportFormat::csv, ExportFormat::xlsx}) {
    if (format == ExportFormat::xlsx && !XlsxAvailable()) continue;
    const QString file = dir_.filePath(QStringLiteral("x"));
    FailingSource broken(true);
    EXPECT_EQ(ExportRecords(broken, format, file).status, ExportResult::Status::failed);
    FailingSource cancelled(false);
    EXPECT_EQ(ExportRecords(cancelled, format, file, [](qint64 done, qint64) { return done == 0; }).status,
              ExportResult::Status::cancelled);
    EXPECT_EQ(Exported(dir_.path()), QStringList());
  }
  FailingSource source(false);
  EXPECT_EQ(ExportRecords(source, ExportFormat::csv, dir_.filePath(QStringLiteral("none/x.csv"))).status,
            ExportResult::Status::failed)
      << "a folder that is not there";
  if (geteuid() != 0) {
    const QString locked = dir_.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(chmod(QFile::encodeName(locked).constData(), 0500), 0);
    EXPECT_EQ(ExportRecords(source, ExportFormat::csv, locked + QStringLiteral("/x.csv")).status,
              ExportResult::Status::failed);
    EXPECT_EQ(Exported(locked), QStringList());
    chmod(QFile::encodeName(locked).constData(), 0700);
  }
}

// Needs a small file system that the export fills, named in
// CARDSTATION_TEST_FULL_DIR (as root: mount -t tmpfs -o size=16k tmpfs DIR).
TEST_F(ExportTest, AFullFileSystemLeavesNoFile) {
  const QString full = qEnvironmentVariable("CARDSTATION_TEST_FULL_DIR");
  if (full.isEmpty()) GTEST_SKIP() << "CARDSTATION_TEST_FULL_DIR is not set";
  // Digits that do not compress, so that the workbook outgrows the space too.
  std::mt19937 digits(7);
  for (int i = 0; i < 800; ++i) {
    std::string track3;
    for (int d = 0; d < 104; ++d) track3 += static_cast<char>('0' + digits() % 10);
    Write(std::to_string(10000000 + i), track3);
  }
  for (const ExportFormat format : {ExportFormat::csv, ExportFormat::xlsx}) {
    if (format == ExportFormat::xlsx && !XlsxAvailable()) continue;
    auto source = WrittenCardRows(*journal_, CardQuery{});
    EXPECT_EQ(ExportRecords(*source, format, full + QStringLiteral("/x")).status, ExportResult::Status::failed);
    EXPECT_EQ(Exported(full), QStringList());
  }
}

TEST(ExportNames, SuffixFollowsTheChosenFormatOnlyWhenTheNameHasNone) {
  const struct {
    const char* typed;
    ExportFormat format;
    const char* path;
    ExportFormat written;
  } rows[] = {
      {"/tmp/cards", ExportFormat::csv, "/tmp/cards.csv", ExportFormat::csv},
      {"/tmp/cards", ExportFormat::xlsx, "/tmp/cards.xlsx", ExportFormat::xlsx},
      {"/tmp/cards.", ExportFormat::csv, "/tmp/cards.csv", ExportFormat::csv},
      {"/tmp/cards.XLSX", ExportFormat::csv, "/tmp/cards.XLSX", ExportFormat::xlsx},
      {"/tmp/cards.csv", ExportFormat::xlsx, "/tmp/cards.csv", ExportFormat::csv},
      {"/tmp/v1.2/cards", ExportFormat::csv, "/tmp/v1.2/cards.csv", ExportFormat::csv},
      {"/tmp/cards.txt", ExportFormat::csv, "/tmp/cards.txt", ExportFormat::csv},
  };
  for (const auto& row : rows) {
    const QString path = WithFormatSuffix(QString::fromUtf8(row.typed), row.format);
    EXPECT_EQ(path, QString::fromUtf8(row.path)) << row.typed;
    EXPECT_EQ(FormatOfPath(path, row.format), row.written) << row.typed;
  }
}

TEST(ExportCsv, Utf8WithByteOrderMarkQuotedAndFormulasDisarmed) {
  CardRow row;
  row.localTime = QStringLiteral("2026-12-06 08:05:03");
  row.station = QStringLiteral("前台,1");
  row.kind = RunKind::file;
  row.cardIndex = 2;
  row.deliberateRepeat = true;
  row.track2 = WrittenTrack{2, "=1+2", QStringLiteral("/data/list.txt"), 5};
  const QByteArray expected =
      "\xEF\xBB\xBF"
      "时间,工作站,方式,磁道2,磁道3,批次,重复\r\n"
      "2026-12-06 08:05:03,\"前台,1\",文件写,'=1+2,,第2张 list.txt:5,是\r\n";
  EXPECT_EQ(ExportCsv({row}), expected);
  EXPECT_EQ(ExportCsv({}), QByteArray("\xEF\xBB\xBF时间,工作站,方式,磁道2,磁道3,批次,重复\r\n"));
}

}  // namespace
}  // namespace journal
