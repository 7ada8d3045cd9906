// The serial port component over real pseudo-terminals.

#include <gtest/gtest.h>

#include <QThread>

#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "CardLine.h"
#include "PtyFixture.h"
#include "serial/ComPort.h"

namespace {

class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Pty1.Path.empty());
    Port.SetPortResolver([this](uint16_t n) -> std::string {
      if (n == 1) return Pty1.Path;
      if (n == 2) return Pty2.Path;
      return "/nonexistent/ttyS" + std::to_string(n);
    });
    LoadCardLine(Port);
    // Every received chunk goes to Received, one GetChar at a time as the card
    // station takes it.
    Port.SetOnTrigger([this](TSerCustomComPort* cp, uint16_t msg, uint16_t, uint16_t data) {
      Messages.push_back(msg);
      if (msg != TriggerAvailMsg) return;
      for (int i = 0; i < data; ++i) Received.push_back(cp->GetChar());
    });
  }
  void TearDown() override {
    Port.SetOpen(false);
    WaitUntil([&] { return !Port.Open(); });
  }

  TPty Pty1, Pty2;
  TSerComPort Port;
  std::string Received;
  std::vector<uint16_t> Messages;
};

std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed) & 0xFF);
  return s;
}

TEST(ComPortDefaults, NewComponentAndStoredSettings) {
  TSerComPort fresh;
  EXPECT_EQ(fresh.Version(), "v1.00");
  EXPECT_EQ(fresh.ComNumber(), 0);
  EXPECT_EQ(fresh.Baud(), 19200);
  EXPECT_TRUE(fresh.PromptForPort());
  EXPECT_EQ(fresh.InSize(), 4096);
  EXPECT_EQ(fresh.OutSize(), 4096);
  EXPECT_TRUE(fresh.AutoOpen());
  EXPECT_TRUE(fresh.DTR());
  EXPECT_TRUE(fresh.RTS());
  EXPECT_EQ(fresh.XOnChar(), 17);
  EXPECT_EQ(fresh.XOffChar(), 19);
  EXPECT_EQ(fresh.TraceName(), "SERIAL.TRC");
  EXPECT_EQ(fresh.TriggerLength(), 1);
  EXPECT_EQ(fresh.DevicePath(3), "/dev/ttyS2");

  // Settings stored while loading reach the port without opening it.
  TSerComPort stored;
  LoadCardLine(stored);
  EXPECT_FALSE(stored.Open());
  EXPECT_EQ(stored.ComNumber(), 1);
  EXPECT_EQ(stored.Baud(), 9600);
}

TEST(ComPortSetters, FlowThresholdsAndRs485) {
  struct Row {
    const char* name;
    std::function<void(TSerComPort&)> act;
    uint16_t full, resume;
  };
  const Row rows[] = {
      {"hardware flow from zero", [](TSerComPort& p) { p.SetHWFlowOptions(1 << hwfUseRTS); }, 3686, 410},
      {"software flow from zero", [](TSerComPort& p) { p.SetSWFlowOptions(swfBoth); }, 3072, 1024},
      {"kept when consistent",
       [](TSerComPort& p) {
         p.SetBufferFull(2000);
         p.SetBufferResume(100);
         p.SetHWFlowOptions(1 << hwfRequireCTS);
       },
       2000, 100},
      {"resume above full is cut",
       [](TSerComPort& p) {
         p.SetBufferFull(1000);
         p.SetBufferResume(1500);
       },
       1000, 100},
      {"full above the queue is cut", [](TSerComPort& p) { p.SetBufferFull(5000); }, 4500, 0},
  };
  for (const Row& row : rows) {
    TSerComPort p;
    row.act(p);
    EXPECT_EQ(p.BufferFull(), row.full) << row.name;
    EXPECT_EQ(p.BufferResume(), row.resume) << row.name;
  }

  TSerComPort p;
  p.SetHWFlowOptions((1 << hwfUseRTS) | (1 << hwfRequireCTS) | (1 << hwfUseDTR));
  p.SetRS485Mode(true);
  EXPECT_EQ(p.HWFlowOptions(), 1 << hwfUseDTR);
  EXPECT_FALSE(p.RTS());
  // Tracing states beyond on are not kept by a closed port.
  p.SetTracing(tlDump);
  EXPECT_EQ(p.Tracing(), tlOff);
  p.SetTracing(tlOn);
  EXPECT_EQ(p.Tracing(), tlOn);
}

TEST(ComPortClosed, NoPortRaisesAndReportsNothingOpen) {
  TSerComPort p;
  LoadCardLine(p);
  EXPECT_EQ(p.OutBuffUsed(), 0);
  EXPECT_THROW(p.GetChar(), ECommNotOpen);
  EXPECT_THROW(p.PutBlock("x", 1), ECommNotOpen);

  TSerComPort unset;
  unset.SetPromptForPort(false);
  try {
    unset.SetOpen(true);
    FAIL() << "opened without a port number";
  } catch (const ENoPortSelected& e) {
    EXPECT_EQ(e.ResultCode, -2011);
  }
  EXPECT_FALSE(unset.Open());

  // Cancelling the port prompt, or OK on an empty list, is the same refusal.
  TSerComPort prompted;
  prompted.SetPortPrompt([](const std::function<bool(uint16_t)>&) -> uint16_t { return 0; });
  EXPECT_THROW(prompted.SetOpen(true), ENoPortSelected);
  EXPECT_EQ(prompted.ComNumber(), 0);
}

TEST_F(ComPortTest, OpenCloseTwiceAndThreadsEnd) {
  // Once first, so that helper threads the runtime starts lazily are not counted.
  Port.SetOpen(true);
  Port.SetOpen(false);
  const int threadsBefore = ThreadCount();
  Port.SetOpen(true);
  EXPECT_TRUE(Port.Open());
  EXPECT_EQ(Port.PortState(), stActive);
  EXPECT_EQ(ThreadCount(), threadsBefore + 3);
  Port.SetOpen(true);  // already open: nothing
  EXPECT_EQ(ThreadCount(), threadsBefore + 3);
  Port.SetOpen(false);
  EXPECT_FALSE(Port.Open());
  EXPECT_EQ(Port.PortState(), stClosed);
  // The threads are joined; the kernel drops a joined thread's entry from /proc
  // a moment after the join has returned.
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threadsBefore; }, 1000)) << ThreadCount();
  Port.SetOpen(false);  // already closed: nothing
  EXPECT_FALSE(Port.Open());
  // The device really was released: another holder may lock it now.
  int fd = ::open(Pty1.Path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

TEST_F(ComPortTest, LineSettingsReachTheDevice) {
  Port.SetOpen(true);
  termios tio{};
  ASSERT_EQ(::tcgetattr(Pty1.Slave, &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);  // 0xFF for both characters is accepted
  // The stored flow characters are applied by the open although nothing changed them.
  EXPECT_EQ(tio.c_cc[VSTART], 0xFF);
  EXPECT_EQ(tio.c_cc[VSTOP], 0xFF);

  Port.SetBaud(19200);
  Port.SetParity(pEven);
  Port.SetStopBits(2);
  ASSERT_EQ(::tcgetattr(Pty1.Slave, &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B19200));
  EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
  // A pseudo-terminal has no parity bit; the choice is kept, not applied.
  TSerLineSettings line;
  ASSERT_EQ(Port.Dispatcher()->GetComState(line), 0);
  EXPECT_EQ(line.Parity, pEven);

  Port.SetSWFlowOptions(swfBoth);  // the flow characters become 17 and 19
  ASSERT_EQ(::tcgetattr(Pty1.Slave, &tio), 0);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  // Equal characters with software flow on would stall the line: refused.
  Port.SetXOnChar(0x11);
  EXPECT_ANY_THROW(Port.SetXOffChar(0x11));
}

// Receive flow makes this side send XOFF (IXOFF); transmit flow makes it obey
// the device's XOFF (IXON).
TEST_F(ComPortTest, SoftwareFlowDirectionsMapToTheirOwnFlags) {
  struct Row {
    const char* name;
    TSWFlowOptions flow;
    tcflag_t flags;
  };
  const Row rows[] = {
      {"none", swfNone, 0},
      {"receive only", swfReceive, IXOFF},
      {"transmit only", swfTransmit, IXON},
      {"both", swfBoth, IXON | IXOFF},
  };
  Port.SetOpen(true);
  Port.SetXOnChar(0x11);
  Port.SetXOffChar(0x13);
  for (const Row& row : rows) {
    Port.SetSWFlowOptions(swfNone);
    Port.SetSWFlowOptions(row.flow);
    termios tio{};
    ASSERT_EQ(::tcgetattr(Pty1.Slave, &tio), 0);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), row.flags) << row.name;
  }
}

TEST_F(ComPortTest, FailingSettersKeepOrDropTheirValue) {
  Port.SetOpen(true);
  // A line under handshake control refuses DTR: the property keeps its value.
  Port.SetHWFlowOptions(1 << hwfUseDTR);
  Port.SetDTR(true);
  EXPECT_FALSE(Port.DTR());

  // Equal flow characters with software flow on are refused by the device; the
  // character is stored before the device is asked.
  Port.SetSWFlowOptions(swfBoth);
  Port.SetXOnChar(0x11);
  EXPECT_THROW(Port.SetXOffChar(0x11), EInOutError);
  EXPECT_EQ(Port.XOffChar(), 0x11);
  // The flow options are stored only after the device took them.
  EXPECT_THROW(Port.SetHWFlowOptions((1 << hwfUseDTR) | (1 << hwfRequireDSR)), EInOutError);
  EXPECT_EQ(Port.HWFlowOptions(), 1 << hwfUseDTR);
  // An unsupported rate: stored first, then refused.
  EXPECT_THROW(Port.SetBaud(12345), EInOutError);
  EXPECT_EQ(Port.Baud(), 12345);
}

TEST_F(ComPortTest, Rs485ModeTakesRtsOutOfTheHandshakeOnTheOpenLine) {
  Port.SetHWFlowOptions((1 << hwfUseRTS) | (1 << hwfUseDTR));
  Port.SetOpen(true);
  ASSERT_EQ(Port.Dispatcher()->LineSettings().RtsControl, rtsHandshake);
  Port.SetRS485Mode(true);
  EXPECT_EQ(Port.HWFlowOptions(), 1 << hwfUseDTR);
  EXPECT_EQ(Port.Dispatcher()->LineSettings().RtsControl, rtsToggle);
  EXPECT_EQ(Port.Dispatcher()->LineSettings().DtrControl, dtrHandshake);
  // Opened with RS-485 stored, the line comes up with the toggle as well.
  Port.SetOpen(false);
  Port.SetOpen(true);
  EXPECT_EQ(Port.Dispatcher()->LineSettings().RtsControl, rtsToggle);
}

TEST_F(ComPortTest, SplitReplyArrivesInOrder) {
  Port.SetOpen(true);
  ASSERT_TRUE(
      Pty1.Write("\x1b"
                 "r"));
  ASSERT_TRUE(WaitUntil([&] { return Received.size() >= 2; }));
  ASSERT_TRUE(Pty1.Write("p12"));
  ASSERT_TRUE(Pty1.Write("34\x1c"));
  ASSERT_TRUE(WaitUntil([&] { return Received.size() >= 8; }));
  EXPECT_EQ(Received, "\x1brp1234\x1c");
}

TEST_F(ComPortTest, InputFromWhileClosedIsDiscardedOnOpen) {
  ASSERT_TRUE(Pty1.Write("before"));  // waiting before the first open
  Port.SetOpen(true);
  ASSERT_TRUE(Pty1.Write("one"));
  ASSERT_TRUE(WaitUntil([&] { return Received.size() >= 3; }));
  Port.SetOpen(false);
  ASSERT_TRUE(Pty1.Write("while closed"));
  Port.SetOpen(true);
  ASSERT_TRUE(Pty1.Write("two"));
  ASSERT_TRUE(WaitUntil([&] { return Received.size() >= 6; }));
  // Anything stale would have come before the new bytes.
  EXPECT_EQ(Received, "onetwo");
}

TEST_F(ComPortTest, BothRingsWrapAroundInOrder) {
  Port.SetOutSize(100);
  Port.SetOpen(true);
  // Input: more than the 8192-byte ring in uneven chunks.
  const std::string in = Pattern(20000, 7);
  for (size_t at = 0; at < in.size(); at += 777) ASSERT_TRUE(Pty1.Write(in.substr(at, 777)));
  ASSERT_TRUE(WaitUntil([&] { return Received.size() >= in.size(); }, 20000));
  EXPECT_EQ(Received, in);

  // Output: blocks of 30 through a 100-byte ring, so that most of them wrap.
  const std::string out = Pattern(3000, 3);
  std::string echoed;
  for (size_t at = 0; at < out.size(); at += 30) {
    ASSERT_TRUE(WaitUntil([&] {
      echoed += Pty1.ReadAvailable();
      return Port.OutBuffUsed() <= 70;
    }));
    Port.PutBlock(out.data() + at, 30);
  }
  ASSERT_TRUE(WaitUntil([&] {
    echoed += Pty1.ReadAvailable();
    return echoed.size() >= out.size();
  }));
  EXPECT_EQ(echoed, out);
}

TEST_F(ComPortTest, OutputLargerThanTheFreeSpaceIsRefused) {
  Port.SetOutSize(64);
  Port.SetOpen(true);
  const std::string block(65, 'x');
  EXPECT_THROW(Port.PutBlock(block.data(), 65), EOutputBufferTooSmall);
}

TEST_F(ComPortTest, CloseInsideTriggerIsDeferred) {
  Port.SetOpen(true);
  const int threadsOpen = ThreadCount();
  bool openInside = false, openAfterRetry = false;
  int closings = 0;
  Port.SetOnTrigger([&](TSerCustomComPort* cp, uint16_t msg, uint16_t handle, uint16_t data) {
    if (msg == PortClosingMsg) {
      ++closings;
      EXPECT_EQ(handle, 0);
      EXPECT_EQ(data, 0);
      return;
    }
    if (msg != TriggerAvailMsg || !cp->Open()) return;
    cp->SetOpen(false);
    openInside = cp->Open();
    cp->SetOpen(true);  // during a deferred close: no effect
    cp->SetOpen(false);
    openAfterRetry = cp->Open();
  });
  ASSERT_TRUE(Pty1.Write("x"));
  ASSERT_TRUE(WaitUntil([&] { return Port.PortState() != stActive; }));
  EXPECT_TRUE(openInside);
  EXPECT_TRUE(openAfterRetry);
  ASSERT_TRUE(WaitUntil([&] { return !Port.Open(); }));
  EXPECT_EQ(Port.PortState(), stClosed);
  EXPECT_GE(closings, 1);
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threadsOpen - 3; }));
  // And the port opens again afterwards.
  Port.SetOnTrigger(nullptr);
  Port.SetOpen(true);
  EXPECT_TRUE(Port.Open());
}

TEST_F(ComPortTest, ComNumberChangedInsideAHandlerReopensOnTheNewPort) {
  Port.SetOpen(true);
  Port.SetOnTrigger([&](TSerCustomComPort* cp, uint16_t msg, uint16_t, uint16_t data) {
    if (msg != TriggerAvailMsg) return;
    for (int i = 0; i < data; ++i) Received.push_back(cp->GetChar());
    if (cp->ComNumber() == 1) cp->SetComNumber(2);
  });
  ASSERT_TRUE(Pty1.Write("1"));
  ASSERT_TRUE(WaitUntil([&] { return Port.ComNumber() == 2 && Port.PortState() == stActive; }));
  EXPECT_TRUE(Port.Open());
  ASSERT_TRUE(Pty2.Write("2"));
  ASSERT_TRUE(WaitUntil([&] { return Received == "12"; }));
  int fd = ::open(Pty1.Path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

TEST_F(ComPortTest, UnwritableTraceFileDoesNotKeepThePortOpen) {
  Port.SetTraceName("/nonexistent/folder/SERIAL.TRC");
  Port.SetOpen(true);
  Port.SetTracing(tlOn);
  Port.PutBlock("A", 1);
  try {
    Port.SetOpen(false);
    FAIL() << "the failed dump was not reported";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, 2);
  }
  EXPECT_FALSE(Port.Open());
  EXPECT_EQ(Port.PortState(), stClosed);
  EXPECT_EQ(Port.Tracing(), tlOff);
  Port.SetOpen(true);
  EXPECT_TRUE(Port.Open());
}

TEST_F(ComPortTest, AssignCopiesSettingsAndHandlersButNotTheOpenPort) {
  Port.SetTraceName(::testing::TempDir() + "assign_" + std::to_string(::getpid()) + ".trc");
  int opened = 0;
  Port.SetOnPortOpen([&](TSerCustomComPort*) { ++opened; });
  Port.SetOpen(true);
  Port.SetTracing(tlOn);
  Port.SetTracing(tlPause);
  ASSERT_EQ(opened, 1);

  TSerComPort copy;
  copy.Assign(Port);
  EXPECT_FALSE(copy.Open());
  EXPECT_EQ(copy.PortState(), stClosed);
  EXPECT_EQ(copy.ComNumber(), 1);
  EXPECT_EQ(copy.Baud(), 9600);
  EXPECT_EQ(copy.OutSize(), 8192);
  EXPECT_FALSE(copy.AutoOpen());
  EXPECT_FALSE(copy.DTR());
  EXPECT_EQ(copy.XOnChar(), 0xFF);
  EXPECT_EQ(copy.TraceName(), Port.TraceName());
  // A port that is not open keeps no pause: it would never record again.
  EXPECT_EQ(copy.Tracing(), tlOff);

  // The copy's port 1 is the second pty; the handlers came along.
  copy.SetPortResolver([this](uint16_t) { return Pty2.Path; });
  copy.SetOpen(true);
  EXPECT_EQ(opened, 2);
  ASSERT_TRUE(Pty2.Write("c"));
  ASSERT_TRUE(WaitUntil([&] { return Received == "c"; }));
  copy.SetOpen(false);
}

TEST_F(ComPortTest, LoadingWithOpenStoredOpensAfterLoadingAndReportsFailures) {
  TSerComPort loaded;
  loaded.SetPortResolver([this](uint16_t n) { return n == 2 ? Pty2.Path : "/nonexistent/ttyS" + std::to_string(n); });
  std::vector<std::string> reported;
  loaded.SetExceptionReporter([&](const std::exception& e) { reported.push_back(e.what()); });
  loaded.BeginLoading();
  loaded.SetComNumber(2);
  loaded.SetOpen(true);
  EXPECT_EQ(loaded.PortState(), stClosed);  // nothing touches a device while loading
  loaded.Loaded();
  EXPECT_TRUE(loaded.Open());
  EXPECT_EQ(loaded.PortState(), stActive);
  loaded.SetOpen(false);

  loaded.BeginLoading();
  loaded.SetComNumber(7);
  loaded.SetOpen(true);
  loaded.Loaded();  // reported, not raised
  EXPECT_FALSE(loaded.Open());
  EXPECT_EQ(reported, std::vector<std::string>{"ie_BadId - Specified comport doesn't exist"});
}

// A handler still running past the delivery's 3000 ms wait takes its bytes late;
// the next notification still announces exactly the bytes after them.
TEST_F(ComPortTest, HandlerPastTheDeliveryTimeoutKeepsTheAnnouncedCounts) {
  std::vector<std::string> reported;
  Port.SetExceptionReporter([&](const std::exception& e) { reported.push_back(e.what()); });
  Port.SetOpen(true);
  int calls = 0;
  Port.SetOnTrigger([&](TSerCustomComPort* cp, uint16_t msg, uint16_t, uint16_t data) {
    if (msg != TriggerAvailMsg) return;
    if (++calls == 1) {
      EXPECT_TRUE(Pty1.Write("bc"));
      QThread::msleep(3500);
    }
    for (int i = 0; i < data; ++i) Received.push_back(cp->GetChar());
  });
  ASSERT_TRUE(Pty1.Write("a"));
  ASSERT_TRUE(WaitUntil([&] { return Received.size() >= 3; }, 10000));
  EXPECT_EQ(Received, "abc");
  EXPECT_TRUE(reported.empty()) << reported.front();
}

// A handler reads the announced bytes straight from the ring: it gets exactly
// the announced count, bytes it leaves come back with the next announcement
// together with those that arrived while it ran, and the trace sees them all.
TEST_F(ComPortTest, HandlerTakesTheAnnouncedBytesAndLaterOnesComeNext) {
  const std::string trace = ::testing::TempDir() + "handler_take.trc";
  Port.SetTraceName(trace);
  Port.SetOpen(true);
  Port.SetTracing(tlOn);
  std::vector<uint16_t> counts;
  int overreach = 0;
  bool arrivedInside = false;
  Port.SetOnTrigger([&](TSerCustomComPort* cp, uint16_t msg, uint16_t, uint16_t data) {
    if (msg != TriggerAvailMsg) return;
    counts.push_back(data);
    if (counts.size() == 1) {
      // Taken in part; one more byte arrives before the handler returns.
      Received.push_back(cp->GetChar());
      const int left = cp->Dispatcher()->InBuffUsed();
      EXPECT_TRUE(Pty1.Write("d"));
      for (int i = 0; i < 2000 && !arrivedInside; ++i) {
        arrivedInside = cp->Dispatcher()->InBuffUsed() > left;
        if (!arrivedInside) QThread::msleep(1);
      }
      return;
    }
    for (int i = 0; i < data; ++i) Received.push_back(cp->GetChar());
    try {
      cp->GetChar();
    } catch (const EBufferIsEmpty&) {
      ++overreach;
    }
  });
  ASSERT_TRUE(Pty1.Write("abc"));
  // Nothing is written after "d": what was left and what came meanwhile must be
  // announced all the same.
  ASSERT_TRUE(WaitUntil([&] { return Received.size() >= 4; }));
  EXPECT_EQ(Received, "abcd");
  EXPECT_TRUE(arrivedInside);
  if (counts.front() == 3) {
    EXPECT_EQ(counts[1], 3);
  }
  EXPECT_EQ(overreach, static_cast<int>(counts.size()) - 1);
  Port.SetTracing(tlDump);
  std::ifstream in(trace, std::ios::binary);
  const std::string recorded{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_NE(recorded.find("abcd"), std::string::npos) << recorded;
  std::remove(trace.c_str());
}

TEST_F(ComPortTest, ExceptionInHandlerIsReportedAndDeliveryGoesOn) {
  std::vector<std::string> reported;
  Port.SetExceptionReporter([&](const std::exception& e) { reported.push_back(e.what()); });
  Port.SetOnTrigger([&](TSerCustomComPort* cp, uint16_t msg, uint16_t, uint16_t data) {
    if (msg != TriggerAvailMsg) return;
    for (int i = 0; i < data; ++i) Received.push_back(cp->GetChar());
    if (Received.size() == 1) cp->GetChar();  // nothing unread: -3007
  });
  Port.SetOpen(true);
  ASSERT_TRUE(Pty1.Write("1"));
  ASSERT_TRUE(WaitUntil([&] { return !reported.empty(); }));
  EXPECT_EQ(reported.front(), "Buffer is empty");
  ASSERT_TRUE(Pty1.Write("2"));
  ASSERT_TRUE(WaitUntil([&] { return Received == "12"; }));
}

TEST_F(ComPortTest, OpenFailuresLeaveThePortClosedAndRecoverable) {
  Port.SetComNumber(7);  // no such device
  try {
    Port.SetOpen(true);
    FAIL();
  } catch (const EBadId& e) {
    EXPECT_EQ(e.ResultCode, -2001);
  }
  EXPECT_FALSE(Port.Open());

  // Another process holds port 1.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  int release[2];
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    int fd = ::open(Pty1.Path.c_str(), O_RDWR | O_NOCTTY);
    ::close(release[1]);
    char c = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
    [[maybe_unused]] ssize_t w = ::write(ready[1], &c, 1);
    [[maybe_unused]] ssize_t r = ::read(release[0], &c, 1);
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  Port.SetComNumber(1);
  try {
    Port.SetOpen(true);
    FAIL();
  } catch (const EAlreadyOpen& e) {
    EXPECT_EQ(e.ResultCode, -2008);
  }
  EXPECT_FALSE(Port.Open());
  ::close(release[1]);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  ::close(release[0]);

  Port.SetOpen(true);
  EXPECT_TRUE(Port.Open());
}

TEST_F(ComPortTest, ComNumberChangedWhileOpenMovesThePort) {
  // Closing dumps the trace; keep it out of the working folder.
  const std::string trace = ::testing::TempDir() + "port_test_" + std::to_string(::getpid()) + ".trc";
  Port.SetTraceName(trace);
  Port.SetOpen(true);
  Port.SetTracing(tlOn);
  Port.SetComNumber(2);
  EXPECT_TRUE(Port.Open());
  EXPECT_EQ(Port.Tracing(), tlOn);
  ASSERT_TRUE(Pty2.Write("on two"));
  ASSERT_TRUE(WaitUntil([&] { return Received == "on two"; }));
  Port.PutBlock("out", 3);
  std::string got;
  ASSERT_TRUE(WaitUntil([&] {
    got += Pty2.ReadAvailable();
    return got == "out";
  }));
  // Port 1 is free again.
  int fd = ::open(Pty1.Path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
  Port.SetOpen(false);
  std::remove(trace.c_str());
}

TEST_F(ComPortTest, FlushWhileAWriteIsPendingEmptiesTheRing) {
  Port.SetOpen(true);
  // Nobody reads the device: the driver's queue fills and the write stays pending.
  const std::string block(4000, 'z');
  for (int i = 0; i < 40 && Port.OutBuffUsed() < 4000; ++i) {
    Port.PutBlock(block.data(), static_cast<uint16_t>(block.size()));
    WaitUntil([&] { return Port.OutBuffUsed() < 4000; }, 50);
  }
  ASSERT_GT(Port.OutBuffUsed(), 0);
  EXPECT_EQ(Port.Dispatcher()->FlushOutBuffer(), 0);
  EXPECT_EQ(Port.OutBuffUsed(), 0);
  // The output thread goes on with new output.
  Pty1.ReadAvailable();
  Port.PutBlock("END", 3);
  std::string got;
  ASSERT_TRUE(WaitUntil([&] {
    got += Pty1.ReadAvailable();
    return got.size() >= 3 && got.compare(got.size() - 3, 3, "END") == 0;
  }));
}

TEST_F(ComPortTest, AutoOpenOpensOnFirstUse) {
  Port.SetAutoOpen(true);
  Port.PutBlock("hi", 2);
  EXPECT_TRUE(Port.Open());
  std::string got;
  ASSERT_TRUE(WaitUntil([&] {
    got += Pty1.ReadAvailable();
    return got == "hi";
  }));
}

TEST_F(ComPortTest, ManyOpenCloseCyclesLeakNothing) {
  // Warm up once so lazily created objects are not counted as leaks.
  Port.SetOpen(true);
  Port.SetOpen(false);
  const int fds = OpenFdCount();
  const int threads = ThreadCount();
  // A steady leak shows after one cycle; the many catch one that only some
  // closes make, as a race between the port's threads would.
  for (int i = 0; i < 2000; ++i) {
    Port.SetOpen(true);
    ASSERT_TRUE(Port.Open()) << "cycle " << i;
    Port.SetOpen(false);
    ASSERT_FALSE(Port.Open()) << "cycle " << i;
  }
  EXPECT_EQ(OpenFdCount(), fds);
  EXPECT_EQ(ThreadCount(), threads);
}

// Closing outside a handler while a reply waits for the main thread completes
// at once: the reply is dropped, and the station's close-then-open ends open.
TEST_F(ComPortTest, CloseWithADeliveryPendingCompletesAndReopens) {
  Port.SetOpen(true);
  ASSERT_TRUE(Pty1.Write("x"));
  // No events are processed here, so the delivery stays queued for this thread.
  bool pending = false;
  for (int i = 0; i < 5000 && !pending; ++i) {
    pending = Port.Dispatcher()->Delivering();
    if (!pending) ::usleep(1000);
  }
  ASSERT_TRUE(pending);
  Port.SetOpen(false);
  EXPECT_FALSE(Port.Open());
  EXPECT_EQ(Port.PortState(), stClosed);
  Port.SetOpen(true);
  EXPECT_TRUE(Port.Open());
  QCoreApplication::processEvents();
  EXPECT_TRUE(Received.empty()) << "the reply of the closed port was dropped";
  ASSERT_TRUE(Pty1.Write("y"));
  ASSERT_TRUE(WaitUntil([&] { return Received == "y"; }));
}

// Closed and opened again inside a handler: the port is open once the deferred
// close has finished, and data flows.
TEST_F(ComPortTest, OpenRequestedDuringADeferredCloseOpensAfterIt) {
  Port.SetOpen(true);
  bool reopened = false;
  Port.SetOnTrigger([&](TSerCustomComPort* cp, uint16_t msg, uint16_t, uint16_t data) {
    if (msg != TriggerAvailMsg) return;
    for (int i = 0; i < data; ++i) Received.push_back(cp->GetChar());
    if (reopened) return;
    reopened = true;
    cp->SetOpen(false);
    cp->SetOpen(true);
  });
  ASSERT_TRUE(Pty1.Write("1"));
  ASSERT_TRUE(WaitUntil([&] { return reopened && Port.PortState() == stActive; }));
  EXPECT_TRUE(Port.Open());
  ASSERT_TRUE(Pty1.Write("2"));
  ASSERT_TRUE(WaitUntil([&] { return Received == "12"; }));
}

// The device goes away: the owner hears of it once, the port threads stop
// waiting on the dead line, output is refused, and closing and opening the
// device once it is back work.
TEST_F(ComPortTest, VanishedDeviceIsReportedOnceAndThePortRecovers) {
  std::string path = Pty1.Path;
  Port.SetPortResolver([&](uint16_t) { return path; });
  int lost = 0;
  Port.SetOnLineLost([&](TSerCustomComPort* cp) {
    ++lost;
    EXPECT_TRUE(cp->LineLost());
  });
  Port.SetOpen(true);
  ASSERT_TRUE(Pty1.Write("a"));
  ASSERT_TRUE(WaitUntil([&] { return Received == "a"; }));
  ::close(Pty1.Master);
  Pty1.Master = -1;
  ASSERT_TRUE(WaitUntil([&] { return lost > 0; }));
  EXPECT_TRUE(Port.Open());
  EXPECT_THROW(Port.PutBlock("z", 1), ECommNotOpen);

  // Nothing spins on the dead descriptor.
  timespec start{}, end{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
  QThread::msleep(500);
  QCoreApplication::processEvents();
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
  const double cpuMs = (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
  EXPECT_LT(cpuMs, 100.0);
  EXPECT_EQ(lost, 1);

  Port.SetOpen(false);
  EXPECT_FALSE(Port.Open());
  EXPECT_FALSE(Port.LineLost());
  path = Pty2.Path;  // the device is back (under the same port number)
  Port.SetOpen(true);
  EXPECT_TRUE(Port.Open());
  EXPECT_NO_THROW(Port.PutBlock("ok", 2));
  std::string got;
  ASSERT_TRUE(WaitUntil([&] {
    got += Pty2.ReadAvailable();
    return got == "ok";
  }));
}

// A failed open tells the path and the cause; the codes stay those callers know.
TEST_F(ComPortTest, OpenFailureCarriesPathAndCause) {
  struct Row {
    const char* path;
    TOpenFailureCause cause;
    int code;
  };
  const Row rows[] = {{"/nonexistent/ttyS9", ofMissing, -2001},
                      {"/dev/null", ofNotSerial, -2001},
                      // A terminal, but the end a program plays a device on.
                      {"/dev/ptmx", ofNotSerial, -2001}};
  for (const Row& r : rows) {
    Port.SetPortResolver([&](uint16_t) { return std::string(r.path); });
    try {
      Port.SetOpen(true);
      ADD_FAILURE() << r.path;
    } catch (const ESerException& e) {
      EXPECT_EQ(e.ResultCode, r.code) << r.path;
      EXPECT_EQ(OpenFailureOf(e).Cause, r.cause) << r.path;
      EXPECT_EQ(OpenFailureOf(e).Path, r.path);
    }
    EXPECT_FALSE(Port.Open());
  }
  // Held by another process's device lock: busy, code -2008, and the holder
  // named is the lock's, not this process, which merely has the device open.
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::close(release[1]);
    const int held = ::open(Pty1.Path.c_str(), O_RDWR | O_NOCTTY);
    const char ok = held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
    [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
    char byte;
    n = ::read(release[0], &byte, 1);  // ends when the parent closes its end
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  pollfd wait{ready[0], POLLIN, 0};
  char ok = '0';
  ASSERT_EQ(::poll(&wait, 1, 10000), 1);
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  EXPECT_EQ(ok, '1');
  Port.SetPortResolver([&](uint16_t) { return Pty1.Path; });
  try {
    Port.SetOpen(true);
    ADD_FAILURE();
  } catch (const EAlreadyOpen& e) {
    EXPECT_EQ(OpenFailureOf(e).Cause, ofBusy);
    EXPECT_EQ(OpenFailureOf(e).HolderPid, holder);
    EXPECT_NE(OpenFailureText(OpenFailureOf(e)).find("其他程序"), std::string::npos);
  }
  ::close(release[1]);
  ::close(ready[0]);
  ::waitpid(holder, nullptr, 0);
}

// Wake-ups of this process's threads with the given name (voluntary context
// switches, summed).
long ThreadWakeups(const std::string& name) {
  long total = 0;
  DIR* tasks = ::opendir("/proc/self/task");
  while (const dirent* t = tasks ? ::readdir(tasks) : nullptr) {
    if (t->d_name[0] == '.') continue;
    const std::string dir = std::string("/proc/self/task/") + t->d_name;
    std::string comm;
    std::getline(std::ifstream(dir + "/comm"), comm);
    if (comm != name) continue;
    std::ifstream status(dir + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::stol(line.substr(24));
  }
  if (tasks) ::closedir(tasks);
  return total;
}

// An open port with nothing to do costs no wake-ups: no timer is armed and a
// pseudo-terminal has no modem lines to sample.
TEST_F(ComPortTest, IdleOpenPortSleeps) {
  Port.SetOpen(true);
  ASSERT_TRUE(Pty1.Write("a"));
  ASSERT_TRUE(WaitUntil([&] { return Received == "a"; }));
  const long before = ThreadWakeups("serial-deliver") + ThreadWakeups("serial-event");
  QThread::msleep(1000);
  const long after = ThreadWakeups("serial-deliver") + ThreadWakeups("serial-event");
  EXPECT_LE(after - before, 2);
}

}  // namespace
