// The component's Tracing and Logging properties over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "CardLine.h"
#include "serial/ComPort.h"

namespace fs = std::filesystem;

namespace {

class ComPortRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    dir = fs::temp_directory_path() / ("serial_comport_rec_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = name;
    LoadCardLine(port);
    port.SetPortResolver([path](uint16_t) { return path; });
    port.SetTraceName((dir / "SERIAL.TRC").string());
    port.SetLogName((dir / "SERIAL.LOG").string());
  }
  void TearDown() override {
    port.SetOpen(false);
    ::close(master);
    ::close(slave);
    fs::remove_all(dir);
  }
  void Put(const std::string& bytes) { ASSERT_EQ(port.PutBlock(bytes.data(), static_cast<uint16_t>(bytes.size())), 0); }
  std::string Read(const char* name) const {
    std::ifstream in(dir / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  bool Exists(const char* name) const { return fs::exists(dir / name); }

  int master = -1, slave = -1;
  fs::path dir;
  TSerComPort port;
};

TEST_F(ComPortRecorderTest, PauseResumeAndDump) {
  port.SetOpen(true);
  port.SetTracing(tlOn);
  Put("AB");
  port.SetTracing(tlPause);
  EXPECT_EQ(port.Tracing(), tlPause);
  Put("x");
  port.SetTracing(tlOn);
  Put("C");
  port.SetTracing(tlDump);
  EXPECT_EQ(port.Tracing(), tlOff);
  EXPECT_EQ(Read("SERIAL.TRC"), "Transmit: \r\nABC");
}

TEST_F(ComPortRecorderTest, ClearKeepsTheStateAndAppendAddsToTheFile) {
  port.SetOpen(true);
  port.SetTracing(tlOn);
  Put("A");
  port.SetTracing(tlDump);
  port.SetTracing(tlOn);
  Put("B");
  port.SetTracing(tlClear);
  EXPECT_EQ(port.Tracing(), tlOn);
  Put("C");
  port.SetTracing(tlAppend);
  EXPECT_EQ(Read("SERIAL.TRC"), "Transmit: \r\nATransmit: \r\nC");
}

TEST_F(ComPortRecorderTest, OffDiscardsAndADumpWhileOffWritesNothing) {
  port.SetOpen(true);
  port.SetTracing(tlOn);
  Put("A");
  port.SetTracing(tlOff);
  port.SetTracing(tlDump);
  EXPECT_FALSE(Exists("SERIAL.TRC"));
  port.SetTracing(tlPause);  // pausing needs a running trace
  EXPECT_EQ(port.Tracing(), tlOff);
}

TEST_F(ComPortRecorderTest, ANewTraceSizeStartsAFreshBuffer) {
  port.SetOpen(true);
  port.SetTracing(tlOn);
  Put("A");
  port.SetTraceSize(50);
  EXPECT_EQ(port.Tracing(), tlOn);
  Put("B");
  port.SetTraceSize(5'000'000);
  EXPECT_EQ(port.TraceSize(), 4'000'000u);
  port.SetLogSize(20'000'000);
  EXPECT_EQ(port.LogSize(), 16'000'000u);
  Put("C");
  port.SetTracing(tlDump);
  EXPECT_EQ(Read("SERIAL.TRC"), "Transmit: \r\nC");
}

TEST_F(ComPortRecorderTest, ClosingThePortDumpsBothRecorders) {
  port.SetOpen(true);
  port.SetTracing(tlOn);
  port.SetLogging(tlOn);
  Put("AB");
  port.SetLogging(tlPause);
  port.SetOpen(false);
  EXPECT_EQ(Read("SERIAL.TRC"), "Transmit: \r\nAB");
  const std::string log = Read("SERIAL.LOG");
  EXPECT_EQ(log.rfind("SERIAL v1.00\r\nCompiler : Unknown\r\nOperating System : ", 0), 0u);
  EXPECT_NE(log.find("\r\nDevice: COM1\r\n"), std::string::npos);
  EXPECT_NE(log.find("  Dispatch  WriteCom      00000002  AB\r\n"), std::string::npos);
  EXPECT_EQ(port.Tracing(), tlOff);
  EXPECT_EQ(port.Logging(), tlOff);
}

TEST_F(ComPortRecorderTest, StatesSetWhileClosedApplyOnOpen) {
  port.SetLogging(tlOn);
  port.SetTracing(tlPause);  // only off and on survive a closed port
  EXPECT_EQ(port.Tracing(), tlOff);
  port.SetOpen(true);
  Put("Z");
  port.SetLogging(tlDump);
  EXPECT_NE(Read("SERIAL.LOG").find("WriteCom      00000001  Z"), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
