// Result codes of the serial layer, their texts, and the exceptions they become.
//
// Every operation of the layer returns 0 (or a positive count) for success and a
// negative code for failure. System errors enter through CodeFromErrno only, and
// leave as exceptions through CheckPortResult only, so a failure keeps its code
// from the device call up to the operator's message.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "serial/OpenFailure.h"

namespace serial_codes {
constexpr int ecOK = 0;
constexpr int ecFileNotFound = -2;
constexpr int ecPathNotFound = -3;
constexpr int ecAccessDenied = -5;
constexpr int ecOutOfMemory = -8;
constexpr int ecGeneralFailure = -162;
constexpr int ecBadHandle = -1001;
constexpr int ecBadArgument = -1002;
constexpr int ecBadId = -2001;
constexpr int ecCommNotOpen = -2007;
constexpr int ecAlreadyOpen = -2008;
constexpr int ecNoPortSelected = -2011;
constexpr int ecNotOpenedByTapi = -2012;
constexpr int ecNullApi = -3001;
constexpr int ecNotSupported = -3002;
constexpr int ecPutBlockFail = -3004;
constexpr int ecOutputBufferTooSmall = -3006;
constexpr int ecBufferIsEmpty = -3007;
constexpr int ecTracingNotEnabled = -3008;
constexpr int ecLoggingNotEnabled = -3009;
constexpr int ecBaseAddressNotSet = -3010;
constexpr int ecNoMoreTriggers = -5001;
constexpr int ecTriggerTooLong = -5002;
constexpr int ecBadTriggerHandle = -5003;
// System errors the table does not own travel as -(SystemErrorBase + errno).
constexpr int SystemErrorBase = 30000;
}  // namespace serial_codes

// One entry of the error text table.
struct TSerErrorEntry {
  int16_t Code;
  const char* Text;
};

// The whole table, sorted by absolute code; it never changes.
const TSerErrorEntry* ErrorTable();
int ErrorTableSize();

// Translates an errno value into a result code. Access refused, device busy and a
// lock held by someone else all mean "in use" (-5); a missing device is -2 or -3;
// out of memory is -8; any other errno e becomes -(30000 + e), whose text is the C
// library's. fromLock marks an errno that came from taking the device lock, where
// EWOULDBLOCK means another process holds the port.
int CodeFromErrno(int err, bool fromLock = false);

// Translates a Win32 error number into a result code, with the same meanings:
// access refused and sharing violation are "in use" (-5); file and path not found
// are -2 and -3; out of memory is -8; the disk and device errors 19 to 31 are the
// table's -150 to -162; any other error e becomes -(30000 + e), whose text is the
// system's. Plain arithmetic, so it is defined and tested on every platform.
int CodeFromWin32Error(uint32_t err);

// The operator's cause of a failed open from the Win32 error of the failing
// step: no such port is missing; access refused and sharing violation are busy,
// since Windows gives a COM port to one program at a time; a handle that is no
// serial device is not serial.
TOpenFailureCause OpenFailureCauseOfWin32Error(uint32_t err);

// Whether a Win32 error of a read, a write or an event wait on an open port means
// that the device went away (a USB adapter pulled out). An aborted operation
// counts only where nothing of ours can have aborted it.
bool IsWin32DeviceGone(uint32_t err, bool abortCounts);

// Text of a code (its absolute value counts): the table's entry, the system's
// text for a translated system error (30001 up), otherwise empty. At most 255 chars.
std::string ErrorText(int code);

// Control characters become blanks and runs of blanks shrink to one; leading and
// trailing blanks stay.
std::string TidySystemText(std::string_view text);

// The runtime's input/output error: raised for the file and device codes -162..-2
// (except -8) and for translated system errors (-30001 and below). ErrorCode is
// the absolute value of the code.
class EInOutError : public std::runtime_error {
 public:
  EInOutError(const std::string& message, int errorCode) : std::runtime_error(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// The runtime's out-of-memory error, raised for -8.
class EOutOfMemory : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "Out of memory"; }
};

// Base of the serial layer's exceptions. ResultCode is the code the exception
// stands for, or 0 when it was built from a message alone.
class ESerException : public std::runtime_error {
 public:
  // CreateFromCode: ResultCode := code; message := ErrorText of its absolute value.
  explicit ESerException(int code);
  // CreateFromMessage: ResultCode := 0; message := text.
  explicit ESerException(const std::string& text);
  static ESerException CreateFromCode(int code) { return ESerException(code); }
  static ESerException CreateFromMessage(const std::string& text) { return ESerException(text); }
  int32_t ResultCode;
  // Set on exceptions from opening a port: the path, the system error and the
  // cause the operator can act on.
  TOpenFailure Failure;
};

// Group classes, and leaf classes under them; they exist to be caught by type.
#define SER_EXCEPTION_CLASS(Name, Parent) \
  class Name : public Parent {            \
   public:                                \
    using Parent::Parent;                 \
  };

SER_EXCEPTION_CLASS(EGeneral, ESerException)
SER_EXCEPTION_CLASS(EOpenComm, ESerException)
SER_EXCEPTION_CLASS(ESerialIO, ESerException)
SER_EXCEPTION_CLASS(ETrigger, ESerException)
SER_EXCEPTION_CLASS(EModem, ESerException)
SER_EXCEPTION_CLASS(EProtocol, ESerException)
SER_EXCEPTION_CLASS(EINI, ESerException)
SER_EXCEPTION_CLASS(EFax, ESerException)
SER_EXCEPTION_CLASS(ETapi, ESerException)
SER_EXCEPTION_CLASS(ERas, ESerException)

// X(Name, Group) for every leaf class.
// clang-format off
#define SER_LEAF_CLASSES(X)                                                                  \
  X(EBadArgument, EGeneral) X(EGotQuitMsg, EGeneral) X(EBufferTooBig, EGeneral)              \
  X(EPortNotAssigned, EGeneral) X(EInternal, EGeneral) X(EModemNotAssigned, EGeneral)        \
  X(EPhonebookNotAssigned, EGeneral) X(ECannotUseWithWinSock, EGeneral)                      \
  X(EBadId, EOpenComm) X(EBaudRate, EOpenComm) X(EByteSize, EOpenComm)                       \
  X(EDefault, EOpenComm) X(EHardware, EOpenComm) X(EMemory, EOpenComm)                       \
  X(ECommNotOpen, EOpenComm) X(EAlreadyOpen, EOpenComm) X(ENoHandles, EOpenComm)             \
  X(ENoTimers, EOpenComm) X(ENoPortSelected, EOpenComm) X(ENotOpenedByTapi, EOpenComm)       \
  X(ENullApi, ESerialIO) X(ERegisterHandlerFailed, ESerialIO) X(EPutBlockFail, ESerialIO)    \
  X(EGetBlockFail, ESerialIO) X(EOutputBufferTooSmall, ESerialIO)                            \
  X(EBufferIsEmpty, ESerialIO) X(ETracingNotEnabled, ESerialIO)                              \
  X(ELoggingNotEnabled, ESerialIO) X(EBaseAddressNotSet, ESerialIO)                          \
  X(ENoMoreTriggers, ETrigger) X(ETriggerTooLong, ETrigger) X(EBadTriggerHandle, ETrigger)   \
  X(EModemNotStarted, EModem) X(EModemBusy, EModem) X(EModemNotDialing, EModem)              \
  X(ENotDialing, EModem) X(EAlreadyDialing, EModem) X(EModemNotResponding, EModem)           \
  X(EModemRejectedCommand, EModem) X(EModemStatusMismatch, EModem)                           \
  X(EKeyTooLong, EINI) X(EDataTooLarge, EINI) X(EIniWrite, EINI) X(EIniRead, EINI)           \
  X(ERecordExists, EINI) X(ERecordNotFound, EINI) X(EDatabaseFull, EINI)                     \
  X(EDatabaseEmpty, EINI) X(EBadFieldList, EINI) X(EBadFieldForIndex, EINI)                  \
  X(EFaxBadFormat, EFax) X(EBadGraphicsFormat, EFax) X(EConvertAbort, EFax)                  \
  X(EUnpackAbort, EFax) X(ECantMakeBitmap, EFax) X(EInvalidPageNumber, EFax)                 \
  X(EFaxBadMachine, EFax) X(EFaxBadModemResult, EFax) X(EFaxTrainError, EFax)                \
  X(EFaxInitError, EFax) X(EFaxBusy, EFax) X(EFaxVoiceCall, EFax) X(EFaxDataCall, EFax)      \
  X(EFaxNoDialTone, EFax) X(EFaxNoCarrier, EFax) X(EFaxSessionError, EFax)                   \
  X(EFaxPageError, EFax)                                                                     \
  X(ETapiAllocated, ETapi) X(ETapiBadDeviceID, ETapi) X(ETapiBearerModeUnavail, ETapi)       \
  X(ETapiCallUnavail, ETapi) X(ETapiCompletionOverrun, ETapi) X(ETapiConferenceFull, ETapi)  \
  X(ETapiDialBilling, ETapi) X(ETapiDialDialtone, ETapi) X(ETapiDialPrompt, ETapi)           \
  X(ETapiDialQuiet, ETapi) X(ETapiIncompatibleApiVersion, ETapi)                             \
  X(ETapiIncompatibleExtVersion, ETapi) X(ETapiIniFileCorrupt, ETapi) X(ETapiInUse, ETapi)   \
  X(ETapiInvalAddress, ETapi) X(ETapiInvalAddressID, ETapi) X(ETapiInvalAddressMode, ETapi)  \
  X(ETapiInvalAddressState, ETapi) X(ETapiInvalAppHandle, ETapi)                             \
  X(ETapiInvalAppName, ETapi) X(ETapiInvalBearerMode, ETapi)                                 \
  X(ETapiInvalCallComplMode, ETapi) X(ETapiInvalCallHandle, ETapi)                           \
  X(ETapiInvalCallParams, ETapi) X(ETapiInvalCallPrivilege, ETapi)                           \
  X(ETapiInvalCallSelect, ETapi) X(ETapiInvalCallState, ETapi)                               \
  X(ETapiInvalCallStatelist, ETapi) X(ETapiInvalCard, ETapi) X(ETapiInvalCompletionID, ETapi)\
  X(ETapiInvalConfCallHandle, ETapi) X(ETapiInvalConsultCallHandle, ETapi)                   \
  X(ETapiInvalCountryCode, ETapi) X(ETapiInvalDeviceClass, ETapi)                            \
  X(ETapiInvalDeviceHandle, ETapi) X(ETapiInvalDialParams, ETapi)                            \
  X(ETapiInvalDigitList, ETapi) X(ETapiInvalDigitMode, ETapi) X(ETapiInvalDigits, ETapi)     \
  X(ETapiInvalExtVersion, ETapi) X(ETapiInvalGroupID, ETapi) X(ETapiInvalLineHandle, ETapi)  \
  X(ETapiInvalLineState, ETapi) X(ETapiInvalLocation, ETapi) X(ETapiInvalMediaList, ETapi)   \
  X(ETapiInvalMediaMode, ETapi) X(ETapiInvalMessageID, ETapi) X(ETapiInvalParam, ETapi)      \
  X(ETapiInvalParkID, ETapi) X(ETapiInvalParkMode, ETapi) X(ETapiInvalPointer, ETapi)        \
  X(ETapiInvalPrivSelect, ETapi) X(ETapiInvalRate, ETapi) X(ETapiInvalRequestMode, ETapi)    \
  X(ETapiInvalTerminalID, ETapi) X(ETapiInvalTerminalMode, ETapi)                            \
  X(ETapiInvalTimeout, ETapi) X(ETapiInvalTone, ETapi) X(ETapiInvalToneList, ETapi)          \
  X(ETapiInvalToneMode, ETapi) X(ETapiInvalTransferMode, ETapi)                              \
  X(ETapiLineMapperFailed, ETapi) X(ETapiNoConference, ETapi) X(ETapiNoDevice, ETapi)        \
  X(ETapiNoDriver, ETapi) X(ETapiNoMem, ETapi) X(ETapiNoRequest, ETapi)                      \
  X(ETapiNotOwner, ETapi) X(ETapiNotRegistered, ETapi) X(ETapiOperationFailed, ETapi)        \
  X(ETapiOperationUnavail, ETapi) X(ETapiRateUnavail, ETapi)                                 \
  X(ETapiResourceUnavail, ETapi) X(ETapiRequestOverrun, ETapi)                               \
  X(ETapiStructureTooSmall, ETapi) X(ETapiTargetNotFound, ETapi) X(ETapiTargetSelf, ETapi)   \
  X(ETapiUninitialized, ETapi) X(ETapiUserUserInfoTooBig, ETapi) X(ETapiReinit, ETapi)       \
  X(ETapiAddressBlocked, ETapi) X(ETapiBillingRejected, ETapi) X(ETapiInvalFeature, ETapi)   \
  X(ETapiNoMultipleInstance, ETapi) X(ETapiBusy, ETapi) X(ETapiNotSet, ETapi)                \
  X(ETapiNoSelect, ETapi) X(ETapiLoadFail, ETapi) X(ETapiGetAddrFail, ETapi)                 \
  X(ETapiVoiceNotSupported, ETapi) X(ETapiWaveFail, ETapi) X(ETapiTranslateFail, ETapi)      \
  X(ERasLoadFail, ERas)
// clang-format on

SER_LEAF_CLASSES(SER_EXCEPTION_CLASS)

// Whatever CheckPortResult needs to know about its component: while the component
// is being loaded from its stored settings, failures are returned, not raised.
class TSerLoadingState {
 public:
  virtual ~TSerLoadingState() = default;
  virtual bool BeingLoaded() const = 0;
};

// Returns a code >= 0 unchanged; otherwise raises the exception the code stands for
// (EInOutError, EOutOfMemory, a leaf class, or ESerException "Serial exception"),
// unless the port is being loaded, in which case the code is returned.
int CheckPortResult(const TSerLoadingState* port, int code);
int CheckPortResult(bool beingLoaded, int code);

// Raises the exception for a negative code unconditionally (CheckPortResult's core).
[[noreturn]] void RaisePortError(int code);
