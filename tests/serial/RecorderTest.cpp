#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include <cerrno>
#include <csignal>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "TestDevice.h"
#include "serial/Recorder.h"
#include "serial/SerialErrors.h"

namespace fs = std::filesystem;

namespace {

class RecorderFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("serial_recorder_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Path(const char* name) const { return (dir / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir;
};

std::string TraceOf(const std::string& kinds, const std::string& bytes, bool hex, bool allHex,
                    uint32_t capacity = 100) {
  TSerTrace trace;
  EXPECT_EQ(trace.Init(capacity), 0);
  for (size_t i = 0; i < bytes.size(); ++i) trace.Add(kinds[i], static_cast<uint8_t>(bytes[i]));
  return trace.Format(hex, allHex);
}

TEST_F(RecorderFiles, SentThenReceivedBytesFormTwoBlocks) {
  TTestDevice dev;
  TSyncLink link;
  dev.SetMainThreadLink(&link);
  ASSERT_EQ(dev.OpenDefault(), 0);
  ASSERT_EQ(dev.InitTracing(100), 0);
  ASSERT_EQ(dev.PutBlock("AB", 2), 0);
  dev.Feed("C");
  dev.Pass();
  uint8_t c;
  ASSERT_EQ(dev.GetChar(c), 0);
  ASSERT_EQ(dev.DumpTrace(Path("SERIAL.TRC"), false, false), 0);
  EXPECT_EQ(Read(Path("SERIAL.TRC")), "Transmit: \r\nAB\r\n\r\nReceive: \r\nC");
  EXPECT_FALSE(dev.TracingOn());
}

TEST(TraceFormat, ByteForms) {
  struct Row {
    const char* name;
    uint8_t byte;
    bool hex, allHex;
    const char* want;
  };
  const Row rows[] = {
      {"CR, hex off", 0x0D, false, false, "[13]"},   {"CR, hex on", 0x0D, true, false, "[0D]"},
      {"space, hex on", ' ', true, false, "[20]"},   {"space, hex off", ' ', false, false, " "},
      {"printable, hex on", '!', true, false, "!"},  {"tilde is printable", '~', false, false, "~"},
      {"DEL, hex off", 0x7F, false, false, "[127]"}, {"high byte, hex on", 0xAB, true, false, "[AB]"},
      {"all hex", 'A', false, true, "[41]"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(TraceOf("T", std::string(1, static_cast<char>(r.byte)), r.hex, r.allHex),
              std::string("Transmit: \r\n") + r.want)
        << r.name;
  }
}

TEST(TraceFormat, LinesBreakPastSeventyEightColumns) {
  EXPECT_EQ(TraceOf(std::string(100, 'R'), std::string(100, 'x'), false, false),
            "Receive: \r\n" + std::string(78, 'x') + "\r\n" + std::string(22, 'x'));
  std::string hexLine;
  for (int i = 0; i < 19; ++i) hexLine += "[01]";
  EXPECT_EQ(TraceOf(std::string(25, 'T'), std::string(25, '\x01'), true, false),
            "Transmit: \r\n" + hexLine + "\r\n[01][01][01][01][01][01]");
  // A change of direction starts the column count again.
  EXPECT_EQ(TraceOf("TTRT", "abcd", false, false), "Transmit: \r\nab\r\n\r\nReceive: \r\nc\r\n\r\nTransmit: \r\nd");
}

TEST(TraceFormat, AFullTraceStartsAtItsOldestEntry) {
  EXPECT_EQ(TraceOf("TTTTTT", "123456", false, false, 4), "Transmit: \r\n3456");
  EXPECT_EQ(TraceOf("TTTT", "1234", false, false, 4), "Transmit: \r\n1234");
}

TEST(TraceBuffer, CapacityAboveFourMillionIsRefused) {
  TSerTrace trace;
  EXPECT_EQ(trace.Init(4'000'001), serial_codes::ecBadArgument);
  EXPECT_FALSE(trace.On());
  EXPECT_EQ(trace.Init(4'000'000), 0);
  EXPECT_TRUE(trace.On());
}

TEST(TraceBuffer, PauseResumeAndClear) {
  TSerTrace trace;
  trace.Init(10);
  trace.Add('T', 'a');
  trace.Stop();
  trace.Add('T', 'b');
  trace.Start();
  trace.Add('T', 'c');
  EXPECT_EQ(trace.Format(false, false), "Transmit: \r\nac");
  trace.Clear();
  trace.Add('R', 'd');
  EXPECT_EQ(trace.Format(false, false), "Receive: \r\nd");
  trace.Abort();
  trace.Start();
  EXPECT_FALSE(trace.On());
}

TEST_F(RecorderFiles, DumpWithNothingRecordedWritesNoFile) {
  TSerTrace trace;
  EXPECT_EQ(trace.Dump(Path("t.trc"), false, false, false), 0);  // no buffer at all
  trace.Init(10);
  EXPECT_EQ(trace.Dump(Path("t.trc"), false, false, false), 0);
  EXPECT_FALSE(fs::exists(Path("t.trc")));
  EXPECT_FALSE(trace.HasBuffer());

  TSerLog log;
  log.Init(100);
  EXPECT_EQ(log.Dump(Path("t.log"), false, false, false, {}), 0);
  EXPECT_FALSE(fs::exists(Path("t.log")));
  EXPECT_FALSE(log.HasBuffer());
}

TEST_F(RecorderFiles, DumpReplacesAndAppendAdds) {
  { std::ofstream(Path("t.trc"), std::ios::binary) << "old"; }
  TSerTrace trace;
  trace.Init(10);
  trace.Add('T', 'a');
  ASSERT_EQ(trace.Dump(Path("t.trc"), false, false, false), 0);
  EXPECT_EQ(Read(Path("t.trc")), "Transmit: \r\na");
  trace.Init(10);
  trace.Add('R', 'b');
  ASSERT_EQ(trace.Dump(Path("t.trc"), true, false, false), 0);
  EXPECT_EQ(Read(Path("t.trc")), "Transmit: \r\naReceive: \r\nb");
  trace.Init(10);
  trace.Add('R', 'c');
  ASSERT_EQ(trace.Dump(Path("new.trc"), true, false, false), 0);  // appending creates
  EXPECT_EQ(Read(Path("new.trc")), "Receive: \r\nc");
}

TEST_F(RecorderFiles, UnwritableFileGivesTheIoErrorAndFreesTheBuffer) {
  TSerTrace trace;
  trace.Init(10);
  trace.Add('T', 'a');
  EXPECT_EQ(trace.Dump(Path("missing/t.trc"), false, false, false), serial_codes::ecFileNotFound);
  EXPECT_FALSE(trace.HasBuffer());

  TSerLog log;
  log.Init(100);
  log.Add(1, 1, 0, 0, 0, nullptr);
  // A folder under the name is refused before anything is opened, on every system.
  EXPECT_EQ(log.Dump(dir.string(), false, false, false, {}), CodeFromErrno(EISDIR));
  EXPECT_FALSE(log.HasBuffer());
}

#ifndef _WIN32
// The files go to a folder others may write to: what stands under a name is
// refused without being opened, since a FIFO would hold the close for good and
// a link would send the bytes elsewhere.
TEST_F(RecorderFiles, AFifoOrALinkUnderTheNameIsRefusedAndLeftAlone) {
  ASSERT_EQ(::mkfifo(Path("SERIAL.TRC").c_str(), 0666), 0);
  { std::ofstream(Path("victim"), std::ios::binary) << "keep"; }
  fs::create_symlink(Path("victim"), Path("SERIAL.LOG"));
  ::alarm(10);  // a blocking open ends the test instead of hanging it
  TSerTrace trace;
  trace.Init(10);
  trace.Add('T', 'a');
  EXPECT_EQ(trace.Dump(Path("SERIAL.TRC"), false, false, false), CodeFromErrno(EEXIST));
  TSerLog log;
  log.Init(100);
  log.Add(1, 1, 0, 0, 0, nullptr);
  EXPECT_EQ(log.Dump(Path("SERIAL.LOG"), true, false, false, {}), CodeFromErrno(EEXIST));
  ::alarm(0);
  EXPECT_TRUE(fs::is_fifo(Path("SERIAL.TRC")));
  EXPECT_TRUE(fs::is_symlink(Path("SERIAL.LOG")));
  EXPECT_EQ(Read(Path("victim")), "keep");
  EXPECT_FALSE(trace.HasBuffer() || log.HasBuffer());
}

// A disk that fills up while the new file is written leaves the old one whole
// and no temporary file behind.
TEST_F(RecorderFiles, AWriteCutShortKeepsTheOldFile) {
  { std::ofstream(Path("SERIAL.TRC"), std::ios::binary) << "old trace"; }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The file size limit cuts the write short, as a full disk does.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4, 4};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    TSerTrace trace;
    trace.Init(100);
    for (char c : std::string("a trace longer than the limit")) trace.Add('T', static_cast<uint8_t>(c));
    ::_exit(trace.Dump(Path("SERIAL.TRC"), false, false, false) == CodeFromErrno(EFBIG) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the dump should fail with the write's error";
  EXPECT_EQ(Read(Path("SERIAL.TRC")), "old trace");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}
#endif

TEST(LogRing, AnEntryLargerThanTheRingIsNotRecorded) {
  TSerLog log;
  log.Init(64);
  const std::string big(64 - TSerLog::HeaderSize + 1, 'x');
  log.Add(1, 1, 0, 0, static_cast<uint32_t>(big.size()), reinterpret_cast<const uint8_t*>(big.data()));
  EXPECT_EQ(log.EntryCount(), 0u);
  const std::string fits(64 - TSerLog::HeaderSize, 'y');
  log.Add(1, 1, 0, 0, static_cast<uint32_t>(fits.size()), reinterpret_cast<const uint8_t*>(fits.data()));
  EXPECT_EQ(log.EntryCount(), 1u);
}

TEST(LogRing, AFullRingDropsItsOldestEntriesWhole) {
  TSerLog log;
  log.Init(100);
  const uint8_t data[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  for (uint32_t i = 0; i < 10; ++i) log.Add(1, 2, i, i, 10, data);  // 24 bytes each
  EXPECT_EQ(log.EntryCount(), 4u);
  const std::string text = log.Format(false, false, {});
  EXPECT_EQ(text.find("00000005"), std::string::npos);
  EXPECT_NE(text.find("00000006  0123456789"), std::string::npos);
  EXPECT_NE(text.find("00000009  0123456789"), std::string::npos);
}

TEST_F(RecorderFiles, LogOfAShortSessionByteForByte) {
  TTestDevice dev;
  TSyncLink link;
  dev.SetMainThreadLink(&link);
  dev.SetDeviceName("COM1");
  dev.Wall.tm_mday = 5;
  dev.Wall.tm_mon = 2;
  dev.Wall.tm_year = 124;
  dev.Wall.tm_hour = 9;
  dev.Wall.tm_min = 8;
  dev.Wall.tm_sec = 7;
  ASSERT_EQ(dev.OpenDefault(), 0);
  ASSERT_EQ(dev.InitLogging(10000), 0);
  dev.Clock += 10;
  dev.RegisterWindowHandler(0x2A);
  dev.SetHandlerMode(1);
  dev.SetTriggerLength(1);
  dev.Clock += 1224;
  ASSERT_EQ(dev.PutBlock("AB\r", 3), 0);
  const char control[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_EQ(dev.PutBlock(control, 10), 0);
  dev.Clock += 45'000;
  dev.Feed("ok");
  dev.Pass();
  dev.RemoveWindowHandler(0x2A);
  dev.CloseCom();
  ASSERT_EQ(dev.DumpLog(Path("SERIAL.LOG"), true, false), 0);

  const std::string want =
      "SERIAL v1.00\r\n"
      "Compiler : Unknown\r\n"
      "Operating System : " +
      OperatingSystemDescription() +
      "\r\n"
      "Device: COM1\r\n"
      "Date/time: 05/03/24, 09:08:07\r\n"
      "Time      Type      SubType       Data      OtherData\r\n"
      "--------  --------  ------------  --------  ---------\r\n"
      "0000.010  TrgHdAlc  Window        0000002a  \r\n"
      "0000.010  TrDatChg  Avail         00000001  \r\n"
      "0001.234  Dispatch  WriteCom      00000003  AB[0D]\r\n"
      "0001.234  Dispatch  WriteCom      0000000a  [01][02][03][04][05][06][07][08]\r\n"
      "                                            [09][0A]\r\n"
      "0046.234  Dispatch  ReadCom       00000002  ok\r\n"
      "0046.234  Trigger   Avail         00000002  \r\n"
      "0046.234  TrgHdDsp  Window        0000002a  \r\n";
  EXPECT_EQ(Read(Path("SERIAL.LOG")), want);
  EXPECT_FALSE(dev.LoggingOn());
}

TEST(LogFormat, TimesOfTenThousandSecondsAndMoreWiden) {
  TSerLog log;
  log.Init(100);
  log.Add(2, 0, 12'345'678, 0, 0, nullptr);
  const std::string text = log.Format(false, false, {});
  EXPECT_NE(text.find("12345.678  Trigger                 00000000  \r\n"), std::string::npos);
}

}  // namespace
