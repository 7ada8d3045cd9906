#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "TestDevice.h"
#include "serial/Dispatcher.h"
#include "serial/SerialErrors.h"

namespace {

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dev.SetMainThreadLink(&link);
    ASSERT_EQ(dev.OpenDefault(), 0);
    dev.RegisterWindowHandler(1);
    dev.SetHandlerMode(1);
    dev.SetTriggerLength(1);
  }

  // A handler for window 1 that takes up to `take` bytes of each availability
  // notification, recording what it saw.
  void TakeOnAvail(uint32_t take) {
    link.OnMessage = [this, take](const TSyncLink::TMsg& m) {
      if (m.Msg != TriggerAvailMsg) return;
      for (uint32_t i = 0; i < take; ++i) {
        uint8_t c;
        if (dev.GetChar(c) != 0) break;
        taken.push_back(static_cast<char>(c));
        usedDuring.push_back(dev.InBuffUsed());
      }
    };
  }

  std::vector<uint16_t> AvailCounts() const {
    std::vector<uint16_t> counts;
    for (const auto& m : link.Sent)
      if (m.Msg == TriggerAvailMsg) counts.push_back(m.WParam);
    return counts;
  }

  TTestDevice dev;
  TSyncLink link;
  std::string taken;
  std::vector<int> usedDuring;
};

TEST_F(DispatcherTest, OneNotificationAnnouncesEveryByteOfARead) {
  TakeOnAvail(100);
  dev.Feed("12345");
  dev.Pass();
  EXPECT_EQ(AvailCounts(), std::vector<uint16_t>{5});
  EXPECT_EQ(taken, "12345");
  EXPECT_EQ(dev.InBuffUsed(), 0);
  // lParam carries the dispatcher's handle in its high word.
  EXPECT_EQ(link.Sent[0].LParam, dev.Handle() * 65536);
}

TEST_F(DispatcherTest, BytesLeftUnreadAreAnnouncedAgainOnlyWithNewInput) {
  TakeOnAvail(2);
  dev.Feed("abcde");
  dev.Pass();
  EXPECT_EQ(taken, "ab");
  EXPECT_EQ(dev.InBuffUsed(), 3);
  dev.Pass();
  EXPECT_EQ(AvailCounts(), std::vector<uint16_t>{5});
  dev.Feed("f");
  dev.Pass();
  EXPECT_EQ(AvailCounts(), (std::vector<uint16_t>{5, 4}));
  EXPECT_EQ(taken, "abcd");
}

TEST_F(DispatcherTest, InBuffUsedDropsDuringDeliveryAndTailMovesAfterIt) {
  TakeOnAvail(3);
  const uint32_t tailBefore = dev.InTail();
  dev.Feed("xyzuv");
  dev.Pass();
  EXPECT_EQ(usedDuring, (std::vector<int>{4, 3, 2}));
  EXPECT_EQ(dev.InTail(), tailBefore + 3);
  uint8_t c = 0;
  ASSERT_EQ(dev.GetChar(c), 0);
  EXPECT_EQ(c, 'u');
}

TEST_F(DispatcherTest, TwoWindowsSeeTheSameBytesAndTheLargestTakeIsConsumed) {
  dev.RegisterWindowHandler(2);
  std::string seen1, seen2;
  link.OnMessage = [&](const TSyncLink::TMsg& m) {
    const uint32_t take = m.Window == 1 ? 2 : 4;
    std::string& seen = m.Window == 1 ? seen1 : seen2;
    for (uint32_t i = 0; i < take; ++i) {
      uint8_t c;
      ASSERT_EQ(dev.GetChar(c), 0);
      seen.push_back(static_cast<char>(c));
    }
  };
  dev.Feed("ABCDEF");
  dev.Pass();
  EXPECT_EQ(seen1, "AB");
  EXPECT_EQ(seen2, "ABCD");
  EXPECT_EQ(dev.InBuffUsed(), 2);
}

TEST_F(DispatcherTest, FullInputRingStopsReadingUntilSpaceIsFreed) {
  link.OnMessage = nullptr;  // the handler takes nothing
  dev.Feed(std::string(TSerBaseDispatcher::InRingSize + 10, 'q'));
  dev.Pass();
  EXPECT_TRUE(dev.InFull());
  EXPECT_EQ(dev.InBuffUsed(), static_cast<int>(TSerBaseDispatcher::InRingSize));
  EXPECT_EQ(dev.PendingCount(), 10u);
  // A whole ring of new bytes is still announced.
  EXPECT_EQ(AvailCounts(), std::vector<uint16_t>{8192});

  dev.Pass();
  EXPECT_EQ(dev.PendingCount(), 10u);
  uint8_t c;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(dev.GetChar(c), 0);
  EXPECT_FALSE(dev.InFull());
  dev.Pass();
  EXPECT_EQ(dev.PendingCount(), 6u);
  EXPECT_TRUE(dev.InFull());
}

TEST_F(DispatcherTest, InputAcrossTheRingEndIsReadBackInOrder) {
  TakeOnAvail(UINT32_MAX);
  dev.Feed(std::string(8000, '.'));
  dev.Pass();
  taken.clear();
  std::string text;
  for (int i = 0; i < 400; ++i) text.push_back(static_cast<char>('a' + i % 26));
  dev.Feed(text);
  dev.Pass();
  EXPECT_EQ(taken, text);
  EXPECT_LT(dev.InTail(), 400u);
}

TEST_F(DispatcherTest, GetCharAndPeekCharOnTooFewBytes) {
  uint8_t c = 0;
  EXPECT_EQ(dev.GetChar(c), serial_codes::ecBufferIsEmpty);
  link.OnMessage = nullptr;
  dev.Feed("ab");
  dev.Pass();
  EXPECT_EQ(dev.PeekChar(c, 2), 0);
  EXPECT_EQ(c, 'b');
  EXPECT_EQ(dev.PeekChar(c, 3), serial_codes::ecBufferIsEmpty);
  EXPECT_EQ(dev.InBuffUsed(), 2);
}

TEST_F(DispatcherTest, FlushInBufferDiscardsUnreadInputAlsoInsideADelivery) {
  link.OnMessage = [&](const TSyncLink::TMsg&) { dev.FlushInBuffer(); };
  dev.Feed("12345");
  dev.Pass();
  EXPECT_EQ(dev.InBuffUsed(), 0);
  link.OnMessage = nullptr;
  dev.Feed("67");
  dev.Pass();
  dev.FlushInBuffer();
  EXPECT_EQ(dev.InBuffUsed(), 0);
}

TEST_F(DispatcherTest, PutBlockOfExactlyTheFreeSpaceFillsTheRing) {
  TTestDevice small;
  ASSERT_EQ(small.OpenDefault(16), 0);
  EXPECT_EQ(small.PutBlock("0123456789", 10), 0);
  EXPECT_EQ(small.OutBuffFree(), 6);
  EXPECT_EQ(small.PutBlock("abcdef", 6), 0);
  EXPECT_TRUE(small.OutFull());
  EXPECT_EQ(small.OutBuffUsed(), 16);
  EXPECT_EQ(small.PutBlock("x", 1), serial_codes::ecOutputBufferTooSmall);
  small.DrainOutput(3);
  EXPECT_EQ(small.PutBlock("xyzw", 4), serial_codes::ecOutputBufferTooSmall);
  EXPECT_EQ(small.PutBlock("xyz", 3), 0);
  small.DrainOutput();
  EXPECT_EQ(std::string(small.Written.begin(), small.Written.end()), "0123456789abcdefxyz");
  EXPECT_EQ(small.OutBuffUsed(), 0);
  EXPECT_EQ(small.PutBlock("", 0), 0);
}

TEST_F(DispatcherTest, PutBlockRefusedByTheDeviceFailsAndLeavesTheRingUsable) {
  TTestDevice small;
  ASSERT_EQ(small.OpenDefault(4), 0);
  small.WriteResult = -1;
  EXPECT_EQ(small.PutBlock("abcd", 4), serial_codes::ecPutBlockFail);
  EXPECT_FALSE(small.OutFull());
  small.WriteResult = 0;
  EXPECT_EQ(small.PutBlock("abcd", 4), 0);
}

TEST_F(DispatcherTest, SetLineWithCurrentValuesDoesNotTouchTheDevice) {
  const int writes = dev.StateWrites;
  dev.Sleeps.clear();
  EXPECT_EQ(dev.SetLine(9600, pNone, 1, 8), 0);
  EXPECT_EQ(dev.SetLine(0, 5, 3, 9), 0);
  EXPECT_TRUE(dev.Sleeps.empty());
  EXPECT_EQ(dev.StateWrites, writes);
}

TEST_F(DispatcherTest, SetLineWithANewBaudDrainsThenWaitsEighteenCharacters) {
  ASSERT_EQ(dev.PutBlock("abc", 3), 0);
  dev.Sleeps.clear();
  int drained = 0;
  dev.OnSleep = [&] {
    if (dev.Sleeps.size() == 3) {
      dev.DrainOutput();
      ++drained;
    }
  };
  EXPECT_EQ(dev.SetLine(19200, 5, 3, 9), 0);
  // Three 2 ms drain rounds, then 18 characters of 10 bits at 9600 baud: 19 ms.
  EXPECT_EQ(dev.Sleeps, (std::vector<uint32_t>{2, 2, 2, 19}));
  EXPECT_EQ(drained, 1);
  EXPECT_EQ(dev.Device.BaudRate, 19200u);
  EXPECT_TRUE(dev.Device.Binary);
  EXPECT_TRUE(dev.Device.TxContinueOnXoff);
}

TEST_F(DispatcherTest, SetLineArgumentRules) {
  struct Row {
    const char* name;
    int stopBits, dataBits, parity;
    uint8_t wantStop, wantSize, wantParity;
  };
  const Row rows[] = {
      {"two stop bits", 2, 9, 5, 2, 8, pNone},
      {"zero counts as one", 0, 9, 5, 0, 8, pNone},
      {"above two counts as two", 7, 9, 5, 2, 8, pNone},
      {"five data bits give one and a half", 2, 5, 5, 1, 5, pNone},
      {"parity changes alone", 3, 9, pEven, 0, 8, pEven},
  };
  for (const Row& r : rows) {
    TTestDevice d;
    ASSERT_EQ(d.OpenDefault(), 0);
    EXPECT_EQ(d.SetLine(0, r.parity, r.stopBits, r.dataBits), 0) << r.name;
    EXPECT_EQ(d.Device.StopBits, r.wantStop) << r.name;
    EXPECT_EQ(d.Device.ByteSize, r.wantSize) << r.name;
    EXPECT_EQ(d.Device.Parity, r.wantParity) << r.name;
  }
  // Five data bits take one and a half stop bits also when the stop bits are kept.
  TTestDevice five;
  ASSERT_EQ(five.OpenCom("/dev/test", 9600, 0, 64, 64, 2, 5, pNone), 0);
  ASSERT_EQ(five.Device.StopBits, 1);
  five.Device.StopBits = 2;
  EXPECT_EQ(five.SetLine(0, 5, 3, 9), 0);
  EXPECT_EQ(five.Device.StopBits, 1);
}

TEST_F(DispatcherTest, EighteenCharacterWaitUsesTheLastBaudAndItsIndexForm) {
  struct Row {
    uint32_t lastBaud;
    int parity;
    uint32_t wantMs;
  };
  // 110 baud 8N1: 90909 * 10 * 18 = 16,363,620 -> 1637 ms; 0xFF18 is 19200:
  // 520 * 10 * 18 = 93600 -> 10 ms; 0xFEFF is 115200 with parity: 86*11*18 -> 2 ms;
  // 0xFF27 is 256000: 39 * 10 * 18 = 7020, below 10,000 so doubled -> 2 ms (1 ms
  // undoubled); 0xFF19 has no rate and counts as it is: 153 * 10 * 18 -> 3 ms.
  const Row rows[] = {
      {110, pNone, 1637}, {0xFF18, pNone, 10}, {0xFEFF, pEven, 2}, {0xFF27, pNone, 2}, {0xFF19, pNone, 3}};
  for (const Row& r : rows) {
    TTestDevice d;
    ASSERT_EQ(d.OpenCom("/dev/test", static_cast<int>(r.lastBaud), 0, 64, 64, 1, 8, r.parity), 0);
    d.Sleeps.clear();
    ASSERT_EQ(d.SetLine(300, 5, 3, 9), 0);
    EXPECT_EQ(d.Sleeps, std::vector<uint32_t>{r.wantMs}) << r.lastBaud;
  }
}

TEST_F(DispatcherTest, FlowControlRejectsInconsistentThresholds) {
  const TSerLineSettings before = dev.Device;
  EXPECT_EQ(dev.SetHardwareFlow(100, 200, HwfUseRtsBit), serial_codes::ecBadArgument);
  EXPECT_EQ(dev.SetSoftwareFlow(5000, 10, SwfReceiveBit), serial_codes::ecBadArgument);
  EXPECT_EQ(dev.Device, before);
}

TEST_F(DispatcherTest, HardwareFlowPutsLinesUnderHandshake) {
  ASSERT_EQ(dev.SetHardwareFlow(3686, 410, HwfUseRtsBit | HwfRequireCtsBit), 0);
  EXPECT_EQ(dev.Device.RtsControl, rtsHandshake);
  EXPECT_EQ(dev.Device.DtrControl, dtrDisable);
  EXPECT_TRUE(dev.Device.OutxCtsFlow);
  EXPECT_FALSE(dev.Device.OutxDsrFlow);
  EXPECT_EQ(dev.Device.XoffLim, 4096 - 3686);
  EXPECT_EQ(dev.Device.XonLim, 410);
  EXPECT_EQ(dev.SetRts(true), 1);  // under handshake: no action
  EXPECT_EQ(dev.SetDtr(true), 0);

  dev.SetRS485Mode(true);
  ASSERT_EQ(dev.SetHardwareFlow(3686, 410, 0), 0);
  EXPECT_EQ(dev.Device.RtsControl, rtsToggle);
  EXPECT_EQ(dev.Device.DtrControl, dtrEnable);
}

TEST_F(DispatcherTest, SoftwareFlowAndFlowCharacters) {
  ASSERT_EQ(dev.SetFlowChars(0xFF, 0xFF), 0);
  EXPECT_EQ(dev.Device.XonChar, 0xFF);
  ASSERT_EQ(dev.SetSoftwareFlow(3072, 1024, SwfReceiveBit), 0);
  EXPECT_TRUE(dev.Device.InX);
  EXPECT_FALSE(dev.Device.OutX);
  EXPECT_EQ(dev.Device.XonChar, 17);
  EXPECT_EQ(dev.Device.XoffChar, 19);
  EXPECT_EQ(dev.Device.XoffLim, 1024);
  ASSERT_EQ(dev.SetSoftwareFlow(3072, 1024, SwfTransmitBit), 0);
  EXPECT_TRUE(dev.Device.OutX);
  EXPECT_TRUE(dev.Device.InX);
  ASSERT_EQ(dev.ClearSoftwareFlow(), 0);
  EXPECT_FALSE(dev.Device.OutX || dev.Device.InX);
}

TEST_F(DispatcherTest, DtrAndRtsUseEscapeFunctionsAndReportFailure) {
  dev.Escapes.clear();
  EXPECT_EQ(dev.SetDtr(true), 0);
  EXPECT_EQ(dev.SetRts(false), 0);
  EXPECT_EQ(dev.Escapes, (std::vector<int>{EscSetDtr, EscClrRts}));
  dev.EscapeResult = -1;
  EXPECT_EQ(dev.SetDtr(false), serial_codes::ecBadArgument);
}

TEST_F(DispatcherTest, LineErrorsAreReportedByPriorityAndBreakSeparately) {
  dev.RaiseLineErrors(LineParity | LineOverrun | LineBreak);
  dev.Pass(EvErr);
  EXPECT_EQ(dev.GetLineError(), 2);  // overrun first
  EXPECT_EQ(dev.GetLineError(), 9);  // parity was cleared with it; break stays
  EXPECT_TRUE(dev.GetLineBreak());
  EXPECT_FALSE(dev.GetLineBreak());
  EXPECT_EQ(dev.GetLineError(), 0);
}

TEST_F(DispatcherTest, LineErrorPriorities) {
  struct Row {
    uint8_t bits;
    int want;
  };
  const Row rows[] = {{LineRxOverflow | LineOverrun | LineParity | LineFraming | LineBreak, 1},
                      {LineOverrun | LineParity | LineFraming, 2},
                      {LineParity | LineFraming | LineBreak, 3},
                      {LineFraming | LineBreak, 4},
                      {LineBreak, 9},
                      {0, 0}};
  for (const Row& r : rows) {
    TTestDevice d;
    ASSERT_EQ(d.OpenDefault(), 0);
    d.RaiseLineErrors(r.bits);
    d.Pass(EvErr);
    EXPECT_EQ(d.GetLineError(), r.want) << int{r.bits};
    // Reporting clears the four error bits; a break stays until it is read.
    EXPECT_EQ(d.GetLineError(), r.want != 0 && (r.bits & LineBreak) ? 9 : 0) << int{r.bits};
  }
}

TEST_F(DispatcherTest, LineErrorsSurviveAnOutputStatusRefresh) {
  dev.RaiseLineErrors(LineFraming);
  ASSERT_EQ(dev.PutBlock("a", 1), 0);
  dev.OutBuffUsed();
  EXPECT_EQ(dev.GetLineError(), 4);
}

TEST_F(DispatcherTest, ModemStatusKeepsChangeBitsUntilMasked) {
  dev.SetModemLines(ModemCts | ModemDcd);
  dev.Pass(EvCts | EvRlsd);
  const uint8_t ms = dev.GetModemStatus(0xF0);
  EXPECT_EQ(ms, ModemCts | ModemDcd | ModemDeltaCts | ModemDeltaDcd);
  EXPECT_EQ(dev.GetModemStatus(0xFF), ModemCts | ModemDcd);
  dev.SetRingSeen();
  EXPECT_EQ(dev.GetModemStatus(0xFF), ModemCts | ModemDcd | ModemDeltaRing);
}

TEST_F(DispatcherTest, RestoredDataTriggerAnnouncesBytesBeforeTheMatchThenTheMatch) {
  TSerSavedTriggers saved;
  saved.TriggerLength = 1;
  TSerDataTrigger t;
  t.Handle = 7;
  t.Pattern = {'O', 'K'};
  t.IgnoreCase = true;
  saved.Data.push_back(t);
  dev.RestoreTriggers(saved);
  link.OnMessage = nullptr;
  dev.Feed("xyzok!");
  dev.Pass();
  ASSERT_GE(link.Sent.size(), 2u);
  EXPECT_EQ(link.Sent[0].Msg, TriggerAvailMsg);
  EXPECT_EQ(link.Sent[0].WParam, 3);  // "xyz"
  EXPECT_EQ(link.Sent[1].Msg, TriggerDataMsg);
  EXPECT_EQ(link.Sent[1].WParam, 7);
  EXPECT_EQ(link.Sent[1].LParam & 0xFFFF, 2);  // the pattern length

  TSerSavedTriggers again;
  dev.SaveTriggers(again);
  EXPECT_EQ(again.TriggerLength, 1);
  ASSERT_EQ(again.Data.size(), 1u);
  EXPECT_EQ(again.Data[0].Handle, 7);
}

TEST_F(DispatcherTest, RestoredStatusTriggersFireOnceEach) {
  TSerSavedTriggers saved;
  saved.TriggerLength = 1;
  saved.Status.push_back({static_cast<uint16_t>(0x10 | StatusLineError), LineFraming, true, false});
  saved.Status.push_back({static_cast<uint16_t>(0x20 | StatusOutSent), 0, true, false});
  saved.Status.push_back({static_cast<uint16_t>(0x30 | StatusOutBuffFree), 8000, true, false});
  dev.RestoreTriggers(saved);
  dev.RaiseLineErrors(LineFraming);
  ASSERT_EQ(dev.PutBlock("abc", 3), 0);
  dev.DrainOutput();
  dev.Pass(EvErr);
  std::vector<uint16_t> handles;
  for (const auto& m : link.Sent)
    if (m.Msg == TriggerStatusMsg) handles.push_back(m.WParam);
  EXPECT_EQ(handles, (std::vector<uint16_t>{0x12, 0x25, 0x33}));
  dev.Pass(EvErr);
  EXPECT_EQ(link.Sent.size(), 3u);
}

TEST_F(DispatcherTest, RestoredTimerTriggerFiresWhenItsTicksHavePassed) {
  TSerSavedTriggers saved;
  const uint32_t now = dev.Clock / 55;
  saved.Timers.push_back({9, now, now + 4, true});
  dev.RestoreTriggers(saved);
  dev.Clock += 3 * 55;
  dev.Pass(0);
  EXPECT_TRUE(link.Sent.empty());
  dev.Clock += 55;
  dev.Pass(0);
  ASSERT_EQ(link.Sent.size(), 1u);
  EXPECT_EQ(link.Sent[0].Msg, TriggerTimerMsg);
  EXPECT_EQ(link.Sent[0].WParam, 9);
  dev.Clock += 10 * 55;
  dev.Pass(0);
  EXPECT_EQ(link.Sent.size(), 1u);
}

TEST_F(DispatcherTest, TimerTriggerSurvivesTheTickCounterWrapping) {
  TSerSavedTriggers saved;
  saved.Timers.push_back({4, 0xFFFFFFFEu, 1u, true});  // three ticks, across the wrap
  dev.RestoreTriggers(saved);
  dev.Clock = 0;  // tick 0: two ticks passed
  dev.Pass(0);
  EXPECT_TRUE(link.Sent.empty());
  dev.Clock = 55;
  dev.Pass(0);
  EXPECT_EQ(link.Sent.size(), 1u);
}

TEST_F(DispatcherTest, HandlerRemovedDuringADeliveryIsRemovedAfterIt) {
  dev.RegisterWindowHandler(2);
  std::vector<TSerWindowHandle> reached;
  link.OnMessage = [&](const TSyncLink::TMsg& m) {
    reached.push_back(m.Window);
    if (m.Window == 1) dev.RemoveWindowHandler(2);
  };
  dev.Feed("a");
  dev.Pass();
  EXPECT_EQ(reached, (std::vector<TSerWindowHandle>{1}));
  reached.clear();
  dev.Feed("b");
  dev.Pass();
  EXPECT_EQ(reached, (std::vector<TSerWindowHandle>{1}));
}

TEST_F(DispatcherTest, HandlerModeDecidesWhetherNotificationsAreDelivered) {
  link.OnMessage = nullptr;
  dev.SetHandlerMode(2);  // the port's own window no longer wants them
  dev.Feed("a");
  dev.Pass();
  EXPECT_TRUE(link.Sent.empty());
  dev.RegisterWindowHandler(5);
  dev.Feed("b");
  dev.Pass();
  EXPECT_EQ(link.Sent.size(), 2u);  // two windows: both are served
}

TEST_F(DispatcherTest, ProcedureAndEventHandlersRunBeforeWindows) {
  std::vector<std::string> order;
  dev.RegisterEventHandler(
      1, [&](uintptr_t user, uint16_t, uint16_t, int32_t) { order.push_back("event" + std::to_string(user)); }, 42,
      true);
  dev.RegisterProcHandler(1, [&](uint16_t, uint16_t, int32_t) { order.push_back("proc"); });
  link.OnMessage = [&](const TSyncLink::TMsg&) { order.push_back("window"); };
  dev.Feed("z");
  dev.Pass();
  EXPECT_EQ(order, (std::vector<std::string>{"event42", "proc", "window"}));
}

TEST_F(DispatcherTest, CloseDuringADeliveryIsDeferredAndStopsTheDelivery) {
  dev.RegisterWindowHandler(2);
  int reached = 0;
  link.OnMessage = [&](const TSyncLink::TMsg&) {
    ++reached;
    dev.CloseCom();
  };
  dev.Feed("abc");
  dev.Pass();
  EXPECT_EQ(reached, 1);
  EXPECT_TRUE(dev.ClosePending());
  EXPECT_EQ(dev.Closes, 1);
  EXPECT_TRUE(dev.HasRings());  // released by the delivery thread as it ends
  dev.ReleaseBuffers();
  EXPECT_FALSE(dev.HasRings());
}

TEST_F(DispatcherTest, AHandlerThatThrowsLeavesTheDispatcherUsable) {
  link.OnMessage = [&](const TSyncLink::TMsg&) {
    uint8_t c;
    dev.GetChar(c);
    throw std::runtime_error("handler failed");
  };
  dev.Feed("abc");
  EXPECT_THROW(dev.Pass(), std::runtime_error);
  EXPECT_FALSE(dev.Delivering());
  EXPECT_EQ(dev.InBuffUsed(), 3);
  TakeOnAvail(10);
  dev.Feed("d");
  dev.Pass();
  EXPECT_EQ(taken, "abcd");
}

TEST_F(DispatcherTest, CloseFlushesBothQueuesAndReleasesTheRings) {
  dev.Flushes.clear();
  dev.CloseCom();
  EXPECT_EQ(dev.Flushes, (std::vector<int>{FlushOutput, FlushInput}));
  EXPECT_FALSE(dev.HasRings());
  uint8_t c;
  EXPECT_EQ(dev.GetChar(c), serial_codes::ecBufferIsEmpty);
  EXPECT_EQ(dev.PutBlock("a", 1), serial_codes::ecOutputBufferTooSmall);
  dev.CloseCom();
  EXPECT_EQ(dev.Closes, 1);
}

TEST(DispatcherOpen, OpenAppliesOptionsLineAndStartsTheThreads) {
  TTestDevice d;
  ASSERT_EQ(d.OpenCom("/dev/ttyX", 9600, OpenOptDtr | OpenOptRtsHandshake, 8192, 4096, 1, 8, pNone), 0);
  EXPECT_EQ(d.OpenedPath, "/dev/ttyX");
  EXPECT_EQ(d.Starts, 1);
  EXPECT_EQ(d.Device.BaudRate, 9600u);
  EXPECT_EQ(d.Device.DtrControl, dtrEnable);
  EXPECT_EQ(d.SetRts(true), 1);  // RTS is under handshake control
  EXPECT_EQ(d.OutBuffFree(), 8192);
  EXPECT_EQ(d.TriggerLength(), 0);
}

TEST(DispatcherOpen, FailuresReturnTheirCodeAndLeaveNothingOpen) {
  struct Row {
    const char* name;
    int openResult, setupResult, setStateResult, want;
  };
  const Row rows[] = {
      {"device missing", serial_codes::ecFileNotFound, 0, 0, -2},
      {"device in use", serial_codes::ecAccessDenied, 0, 0, -5},
      {"queues cannot be sized", 3, -30022, 0, -30022},
      {"line settings rejected", 3, 0, -30022, -30022},
  };
  for (const Row& r : rows) {
    TTestDevice d;
    d.OpenResult = r.openResult;
    d.SetupResult = r.setupResult;
    d.SetStateResult = r.setStateResult;
    EXPECT_EQ(d.OpenCom("/dev/x", 19200, 0, 64, 64, 1, 8, pNone), r.want) << r.name;
    EXPECT_EQ(d.Starts, 0) << r.name;
    EXPECT_FALSE(d.HasRings()) << r.name;
    EXPECT_EQ(d.Closes, r.openResult < 0 ? 0 : 1) << r.name;
  }
}

TEST(DispatcherList, HandlesReuseTheFirstEmptySlot) {
  auto a = std::make_unique<TTestDevice>();
  auto b = std::make_unique<TTestDevice>();
  auto c = std::make_unique<TTestDevice>();
  const int32_t hb = b->Handle();
  b.reset();
  TTestDevice d;
  EXPECT_EQ(d.Handle(), hb);
  auto lock = TSerBaseDispatcher::LockDispatcherList();
  EXPECT_EQ(TSerBaseDispatcher::FindDispatcher(hb), &d);
  EXPECT_EQ(TSerBaseDispatcher::FindDispatcher(c->Handle()), c.get());
  EXPECT_EQ(TSerBaseDispatcher::FindDispatcher(-1), nullptr);
}

TEST(DispatcherThreads, BoostAndRs485SetPriorities) {
  TTestDevice d;
  ASSERT_EQ(d.OpenDefault(), 0);
  d.SetThreadBoost(1);
  EXPECT_EQ(d.ThreadPriority(tkCom), tpHigher);
  EXPECT_EQ(d.ThreadPriority(tkOut), tpHigher);
  d.SetRS485Mode(true);
  EXPECT_EQ(d.ThreadPriority(tkOut), tpHighest);
  d.SetThreadBoost(9);
  EXPECT_EQ(d.ThreadPriority(tkDisp), tpTimeCritical);
}

}  // namespace
