#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <string>

#include "serial/SerialErrors.h"
#include "serial/SystemServices.h"

namespace {

#ifdef _WIN32
// Windows' own tidied text for a Win32 error.
std::string SystemText(int n) { return TidySystemText(SystemErrorText(n)); }
const std::string kIoErrorText = SystemText(5);
#else
const std::string kIoErrorText = "Input/output error";
#endif

TEST(ErrorTable, HoldsEveryCodeOnceSortedByAbsoluteValue) {
  ASSERT_EQ(ErrorTableSize(), 892);
  const TSerErrorEntry* t = ErrorTable();
  std::set<int> seen;
  for (int i = 0; i < ErrorTableSize(); ++i) {
    EXPECT_TRUE(seen.insert(std::abs(t[i].Code)).second) << t[i].Code;
    EXPECT_FALSE(std::string(t[i].Text).empty()) << t[i].Code;
    EXPECT_LE(std::string(t[i].Text).size(), 255u);
    if (i > 0) {
      EXPECT_LT(std::abs(t[i - 1].Code), std::abs(t[i].Code));
    }
  }
  EXPECT_EQ(t[0].Code, 0);
  EXPECT_EQ(t[891].Code, 15742);
}

TEST(ErrorText, CodeAndItsNegationFindTheSameEntry) {
  EXPECT_EQ(ErrorText(-2001), "ie_BadId - Specified comport doesn't exist");
  EXPECT_EQ(ErrorText(2001), ErrorText(-2001));
  EXPECT_EQ(ErrorText(0), "OK");
  EXPECT_EQ(ErrorText(-3007), "Buffer is empty");
  // Labels of the log's entry kinds and sub-kinds.
  EXPECT_EQ(ErrorText(15001 + 1), "Dispatch");
  EXPECT_EQ(ErrorText(15001 + 9), "TrDatChg");
  EXPECT_EQ(ErrorText(15100 + 3), "Line status");
  EXPECT_EQ(ErrorText(15100 + 19), "Method");
  // Only the low 16 bits of a code count.
  EXPECT_EQ(ErrorText(-3007 - 65536), "Buffer is empty");
}

TEST(ErrorText, SystemErrorsUseTheSystemsTextAndUnknownCodesAreEmpty) {
#ifdef _WIN32
  // Windows' texts end in a line break, which becomes one blank.
  EXPECT_FALSE(SystemText(87).empty());
  EXPECT_EQ(ErrorText(-(30000 + 87)), SystemText(87));
  EXPECT_EQ(ErrorText(-(30000 + 87)).back(), ' ');
#else
  EXPECT_EQ(ErrorText(-(30000 + EIO)), "Input/output error");
  EXPECT_EQ(ErrorText(30000 + ENOENT), "No such file or directory");
#endif
  EXPECT_EQ(ErrorText(-7), "");
  EXPECT_EQ(ErrorText(-31999), "");
  EXPECT_EQ(ErrorText(-4018), "");
}

TEST(ErrorText, TidyTurnsControlCharactersIntoSingleBlanks) {
  EXPECT_EQ(TidySystemText("Access is denied.\r\n"), "Access is denied. ");
  EXPECT_EQ(TidySystemText("  a\t\tb   c"), " a b c");
  EXPECT_EQ(TidySystemText(""), "");
}

TEST(CodeFromWin32Error, MapsDriverErrorsOntoTheTableOrPastIt) {
  struct Row {
    const char* name;
    uint32_t err;
    int want;
  };
  const Row rows[] = {
      {"no such port", 2, -2},
      {"no such path", 3, -3},
      {"port held by another program", 5, -5},
      {"sharing violation is in use too", 32, -5},
      {"invalid handle", 6, -6},
      {"not enough memory", 8, -8},
      {"out of memory", 14, -8},
      {"write protected is the first disk text", 19, -150},
      {"general failure is the last", 31, -162},
      {"disk full", 112, -101},
      {"invalid parameter goes past the table", 87, -30087},
      {"operation aborted", 995, -30995},
      {"largest that fits 16 bits", 2767, -32767},
      {"too large still fails", 2768, -162},
      {"no error still fails", 0, -162},
  };
  for (const Row& r : rows) EXPECT_EQ(CodeFromWin32Error(r.err), r.want) << r.name;
}

TEST(Win32ErrorMeaning, OpenCausesAndGoneDevices) {
  struct Row {
    const char* name;
    uint32_t err;
    TOpenFailureCause cause;
    bool goneOnIo, goneOnWait;
  };
  const Row rows[] = {
      {"file not found", 2, ofMissing, false, false},
      {"not connected", 1167, ofMissing, false, false},
      // COM ports are exclusive: access refused on open is another holder, on an
      // open port it is a pulled-out adapter.
      {"access denied", 5, ofBusy, true, true},
      {"sharing violation", 32, ofBusy, false, false},
      {"invalid function", 1, ofNotSerial, false, false},
      {"bad command", 22, ofNone, true, true},
      {"device removed", 1617, ofNone, true, true},
      // A flush aborts reads and writes; only an event wait nothing cancelled counts.
      {"operation aborted", 995, ofNone, false, true},
      {"io pending", 997, ofNone, false, false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(OpenFailureCauseOfWin32Error(r.err), r.cause) << r.name;
    EXPECT_EQ(IsWin32DeviceGone(r.err, false), r.goneOnIo) << r.name;
    EXPECT_EQ(IsWin32DeviceGone(r.err, true), r.goneOnWait) << r.name;
  }
}

TEST(CodeFromErrno, MapsSystemErrorsOutsideTheTablesRange) {
  struct Row {
    const char* name;
    int err;
    bool fromLock;
    int want;
  };
  const Row rows[] = {
      {"missing device", ENOENT, false, -2},
      {"missing folder", ENOTDIR, false, -3},
      {"access refused", EACCES, false, -5},
      {"device busy", EBUSY, false, -5},
      {"lock held elsewhere", EWOULDBLOCK, true, -5},
      {"would block is not 'in use' elsewhere", EWOULDBLOCK, false, -(30000 + EWOULDBLOCK)},
      {"out of memory", ENOMEM, false, -8},
      {"input/output error", EIO, false, -30005},
      {"no errno still fails", 0, false, -162},
  };
  for (const Row& r : rows) EXPECT_EQ(CodeFromErrno(r.err, r.fromLock), r.want) << r.name;
}

template <typename T>
bool Is(const ESerException& e) {
  return dynamic_cast<const T*>(&e) != nullptr;
}

TEST(CheckPortResult, RaisesTheClassOfEachCode) {
  struct Row {
    int code;
    const char* kind;
    bool (*isA)(const ESerException&);
    const char* message;
    int resultCode;
    int ioCode;
  };
  const Row rows[] = {
      {-2011, "ser", Is<ENoPortSelected>, "The ComNumber property of the TSerComPort has not been set", -2011, 0},
      {-2011, "ser", Is<EOpenComm>, nullptr, -2011, 0},
      {-3004, "ser", Is<EPutBlockFail>, "Failed to put entire block", -3004, 0},
      {-3006, "ser", Is<ESerialIO>, "Output buffer too small for block", -3006, 0},
      {-1001, "ser", nullptr, "Serial exception", 0, 0},
      {-3002, "ser", nullptr, "Serial exception", 0, 0},
      {-4009, "ser", nullptr, "Serial exception", 0, 0},
      {-7003, "ser", Is<EInternal>, "Internal database error", -7003, 0},
      {-7003, "ser", Is<EGeneral>, nullptr, -7003, 0},
      {-6008, "ser", Is<EProtocol>, nullptr, -6008, 0},
      {-5003, "ser", Is<ETrigger>, "Bad trigger handle", -5003, 0},
      {-13980, "ser", Is<ERas>, nullptr, -13980, 0},
      {-13942, "ser", Is<ETapiTranslateFail>, nullptr, -13942, 0},
      {-8070, "ser", Is<EFaxPageError>, nullptr, -8070, 0},
      {-4008, "ser", Is<EModemStatusMismatch>, nullptr, -4008, 0},
      {-7014, "ser", Is<EINI>, nullptr, -7014, 0},
      {-5, "io", nullptr, "File access denied", 0, 5},
      {-162, "io", nullptr, "General failure", 0, 162},
      {-7, "io", nullptr, "", 0, 7},
      {-30005, "io", nullptr, kIoErrorText.c_str(), 0, 30005},
      {-8, "oom", nullptr, "Out of memory", 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.code);
    try {
      CheckPortResult(false, r.code);
      ADD_FAILURE() << "nothing raised";
    } catch (const ESerException& e) {
      EXPECT_STREQ(r.kind, "ser");
      if (r.isA) {
        EXPECT_TRUE(r.isA(e));
      } else {
        EXPECT_EQ(typeid(e), typeid(ESerException));
      }
      if (r.message) {
        EXPECT_EQ(e.what(), std::string(r.message));
      }
      EXPECT_EQ(e.ResultCode, r.resultCode);
    } catch (const EInOutError& e) {
      EXPECT_STREQ(r.kind, "io");
      EXPECT_EQ(e.what(), std::string(r.message));
      EXPECT_EQ(e.ErrorCode, r.ioCode);
    } catch (const EOutOfMemory& e) {
      EXPECT_STREQ(r.kind, "oom");
      EXPECT_EQ(e.what(), std::string(r.message));
    }
  }
}

TEST(CheckPortResult, SuccessAndLoadingReturnTheCode) {
  EXPECT_EQ(CheckPortResult(false, 0), 0);
  EXPECT_EQ(CheckPortResult(false, 17), 17);
  EXPECT_EQ(CheckPortResult(true, -2011), -2011);
  struct Loading : TSerLoadingState {
    bool loading = true;
    bool BeingLoaded() const override { return loading; }
  } port;
  EXPECT_EQ(CheckPortResult(&port, -3004), -3004);
  port.loading = false;
  EXPECT_THROW(CheckPortResult(&port, -3004), EPutBlockFail);
  EXPECT_THROW(CheckPortResult(nullptr, -2007), ECommNotOpen);
}

TEST(ESerException, BuildsFromACodeOrAMessage) {
  const ESerException fromCode = ESerException::CreateFromCode(-2008);
  EXPECT_EQ(fromCode.ResultCode, -2008);
  EXPECT_STREQ(fromCode.what(), "ie_Open - device already open");
  const ESerException fromText = ESerException::CreateFromMessage("Dispatcher already started");
  EXPECT_EQ(fromText.ResultCode, 0);
  EXPECT_STREQ(fromText.what(), "Dispatcher already started");
}

TEST(OpenFailureText, NamesThePathAndTheCause) {
  struct Row {
    TOpenFailure failure;
    const char* text;
  };
  const Row rows[] = {
      {{ofMissing, "/dev/ttyUSB0", ENOENT, 0, ""}, "设备 /dev/ttyUSB0 不存在。"},
      {{ofPermission, "/dev/ttyS0", EACCES, 0, ""}, "没有权限打开 /dev/ttyS0：请把当前用户加入 dialout 组后重新登录。"},
      {{ofBusy, "/dev/ttyS1", EBUSY, 4242, "minicom"}, "/dev/ttyS1 正被其他程序使用（4242 minicom）。"},
      {{ofBusy, "/dev/ttyS1", EWOULDBLOCK, 0, ""}, "/dev/ttyS1 正被其他程序使用。"},
      {{ofNotSerial, "/dev/null", ENOTTY, 0, ""}, "/dev/null 不是串口设备。"},
      {{ofNone, "/dev/ttyS2", EIO, 0, ""}, ""},
  };
  for (const Row& r : rows) EXPECT_EQ(OpenFailureText(r.failure), r.text) << r.failure.Path;
  // Only the layer's own exceptions carry a failure.
  EXPECT_EQ(OpenFailureOf(std::runtime_error("other")).Cause, ofNone);
}

}  // namespace
