#include "serial/SerialErrors.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "serial/SystemServices.h"

using namespace serial_codes;

int CodeFromErrno(int err, bool fromLock) {
  switch (err) {
    case ENOENT: return ecFileNotFound;
    case ENOTDIR: return ecPathNotFound;
    case EACCES:
    case EBUSY: return ecAccessDenied;
    case ENOMEM: return ecOutOfMemory;
    default: break;
  }
  if (fromLock && (err == EWOULDBLOCK || err == EAGAIN)) return ecAccessDenied;
  // A failure that left no errno still must not read as success.
  if (err <= 0 || err > 32767 - SystemErrorBase) return ecGeneralFailure;
  return -(SystemErrorBase + err);
}

int CodeFromWin32Error(uint32_t err) {
  switch (err) {
    case 2: return ecFileNotFound;   // ERROR_FILE_NOT_FOUND
    case 3: return ecPathNotFound;   // ERROR_PATH_NOT_FOUND
    case 4: return -4;               // ERROR_TOO_MANY_OPEN_FILES
    case 5:                          // ERROR_ACCESS_DENIED
    case 32: return ecAccessDenied;  // ERROR_SHARING_VIOLATION
    case 6: return -6;               // ERROR_INVALID_HANDLE
    case 8:                          // ERROR_NOT_ENOUGH_MEMORY
    case 14: return ecOutOfMemory;   // ERROR_OUTOFMEMORY
    case 15: return -15;             // ERROR_INVALID_DRIVE
    case 18: return -18;             // ERROR_NO_MORE_FILES
    case 38: return -100;            // ERROR_HANDLE_EOF
    case 112: return -101;           // ERROR_DISK_FULL
    default: break;
  }
  // ERROR_WRITE_PROTECT to ERROR_GEN_FAILURE line up with the table's disk and
  // device texts.
  if (err >= 19 && err <= 31) return -static_cast<int>(err) - 131;
  if (err == 0 || err > static_cast<uint32_t>(32767 - SystemErrorBase)) return ecGeneralFailure;
  return -(SystemErrorBase + static_cast<int>(err));
}

TOpenFailureCause OpenFailureCauseOfWin32Error(uint32_t err) {
  switch (err) {
    case 2:                       // ERROR_FILE_NOT_FOUND
    case 3:                       // ERROR_PATH_NOT_FOUND
    case 123:                     // ERROR_INVALID_NAME
    case 1167: return ofMissing;  // ERROR_DEVICE_NOT_CONNECTED
    case 5:                       // ERROR_ACCESS_DENIED
    case 32: return ofBusy;       // ERROR_SHARING_VIOLATION
    case 1:                       // ERROR_INVALID_FUNCTION
    case 50:                      // ERROR_NOT_SUPPORTED
    case 87: return ofNotSerial;  // ERROR_INVALID_PARAMETER
    default: return ofNone;
  }
}

bool IsWin32DeviceGone(uint32_t err, bool abortCounts) {
  switch (err) {
    case 5:                        // ERROR_ACCESS_DENIED
    case 22:                       // ERROR_BAD_COMMAND
    case 1617: return true;        // ERROR_DEVICE_REMOVED
    case 995: return abortCounts;  // ERROR_OPERATION_ABORTED
    default: return false;
  }
}

std::string TidySystemText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    char c = static_cast<unsigned char>(ch) < 32 ? ' ' : ch;
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(c);
  }
  return out;
}

namespace {
const char* LookUp(int absCode) {
  const TSerErrorEntry* begin = ErrorTable();
  const TSerErrorEntry* end = begin + ErrorTableSize();
  const TSerErrorEntry* it =
      std::lower_bound(begin, end, absCode, [](const TSerErrorEntry& e, int v) { return std::abs(e.Code) < v; });
  if (it != end && std::abs(it->Code) == absCode) return it->Text;
  return nullptr;
}
}  // namespace

std::string ErrorText(int code) {
  const int absCode = std::abs(static_cast<int>(static_cast<int16_t>(code)));
  if (const char* text = LookUp(absCode)) return text;
  if (absCode > SystemErrorBase) {
    if (const std::string sys = SystemErrorText(absCode - SystemErrorBase); !sys.empty()) {
      std::string tidy = TidySystemText(sys);
      if (tidy.size() > 255) tidy.resize(255);
      return tidy;
    }
  }
  return {};
}

ESerException::ESerException(int code) : std::runtime_error(ErrorText(code)), ResultCode(code) {}

ESerException::ESerException(const std::string& text) : std::runtime_error(text), ResultCode(0) {}

void RaisePortError(int code) {
  if (code >= -162 && code <= -2) {
    if (code == ecOutOfMemory) throw EOutOfMemory();
    throw EInOutError(ErrorText(code), -code);
  }
  // A translated system error keeps its code and the C library's text; without
  // this it would end as a bare "Serial exception".
  if (code < -SystemErrorBase) throw EInOutError(ErrorText(code), -code);
  switch (code) {
    // One code per entry, laid out as a table.
    // clang-format off
#define SER_CODE(c, Name) \
  case c: throw Name(c);
    SER_CODE(-1002, EBadArgument) SER_CODE(-1003, EGotQuitMsg) SER_CODE(-1004, EBufferTooBig)
    SER_CODE(-1005, EPortNotAssigned) SER_CODE(-1006, EInternal) SER_CODE(-7003, EInternal)
    SER_CODE(-7006, EInternal) SER_CODE(-7012, EInternal) SER_CODE(-1007, EModemNotAssigned)
    SER_CODE(-1008, EPhonebookNotAssigned) SER_CODE(-1009, ECannotUseWithWinSock)
    SER_CODE(-2001, EBadId) SER_CODE(-2002, EBaudRate) SER_CODE(-2003, EByteSize)
    SER_CODE(-2004, EDefault) SER_CODE(-2005, EHardware) SER_CODE(-2006, EMemory)
    SER_CODE(-2007, ECommNotOpen) SER_CODE(-2008, EAlreadyOpen) SER_CODE(-2009, ENoHandles)
    SER_CODE(-2010, ENoTimers) SER_CODE(-2011, ENoPortSelected) SER_CODE(-2012, ENotOpenedByTapi)
    SER_CODE(-3001, ENullApi) SER_CODE(-3003, ERegisterHandlerFailed)
    SER_CODE(-3004, EPutBlockFail) SER_CODE(-3005, EGetBlockFail)
    SER_CODE(-3006, EOutputBufferTooSmall) SER_CODE(-3007, EBufferIsEmpty)
    SER_CODE(-3008, ETracingNotEnabled) SER_CODE(-3009, ELoggingNotEnabled)
    SER_CODE(-3010, EBaseAddressNotSet)
    SER_CODE(-5001, ENoMoreTriggers) SER_CODE(-5002, ETriggerTooLong) SER_CODE(-5003, EBadTriggerHandle)
    SER_CODE(-4001, EModemNotStarted) SER_CODE(-4002, EModemBusy) SER_CODE(-4003, EModemNotDialing)
    SER_CODE(-4004, ENotDialing) SER_CODE(-4005, EAlreadyDialing) SER_CODE(-4006, EModemNotResponding)
    SER_CODE(-4007, EModemRejectedCommand) SER_CODE(-4008, EModemStatusMismatch)
    SER_CODE(-6006, EProtocol) SER_CODE(-6008, EProtocol) SER_CODE(-6009, EProtocol)
    SER_CODE(-7001, EKeyTooLong) SER_CODE(-7002, EDataTooLarge) SER_CODE(-7004, EIniWrite)
    SER_CODE(-7005, EIniRead) SER_CODE(-7007, ERecordExists) SER_CODE(-7008, ERecordNotFound)
    SER_CODE(-7010, EDatabaseFull) SER_CODE(-7011, EDatabaseEmpty) SER_CODE(-7013, EBadFieldList)
    SER_CODE(-7014, EBadFieldForIndex)
    SER_CODE(-8001, EFaxBadFormat) SER_CODE(-8002, EBadGraphicsFormat) SER_CODE(-8003, EConvertAbort)
    SER_CODE(-8004, EUnpackAbort) SER_CODE(-8005, ECantMakeBitmap) SER_CODE(-8053, EInvalidPageNumber)
    SER_CODE(-8060, EFaxBadMachine) SER_CODE(-8061, EFaxBadModemResult) SER_CODE(-8062, EFaxTrainError)
    SER_CODE(-8063, EFaxInitError) SER_CODE(-8064, EFaxBusy) SER_CODE(-8065, EFaxVoiceCall)
    SER_CODE(-8066, EFaxDataCall) SER_CODE(-8067, EFaxNoDialTone) SER_CODE(-8068, EFaxNoCarrier)
    SER_CODE(-8069, EFaxSessionError) SER_CODE(-8070, EFaxPageError)
    SER_CODE(-13801, ETapiAllocated) SER_CODE(-13802, ETapiBadDeviceID)
    SER_CODE(-13803, ETapiBearerModeUnavail) SER_CODE(-13805, ETapiCallUnavail)
    SER_CODE(-13806, ETapiCompletionOverrun) SER_CODE(-13807, ETapiConferenceFull)
    SER_CODE(-13808, ETapiDialBilling) SER_CODE(-13809, ETapiDialDialtone)
    SER_CODE(-13810, ETapiDialPrompt) SER_CODE(-13811, ETapiDialQuiet)
    SER_CODE(-13812, ETapiIncompatibleApiVersion) SER_CODE(-13813, ETapiIncompatibleExtVersion)
    SER_CODE(-13814, ETapiIniFileCorrupt) SER_CODE(-13815, ETapiInUse)
    SER_CODE(-13816, ETapiInvalAddress) SER_CODE(-13817, ETapiInvalAddressID)
    SER_CODE(-13818, ETapiInvalAddressMode) SER_CODE(-13819, ETapiInvalAddressState)
    SER_CODE(-13820, ETapiInvalAppHandle) SER_CODE(-13821, ETapiInvalAppName)
    SER_CODE(-13822, ETapiInvalBearerMode) SER_CODE(-13823, ETapiInvalCallComplMode)
    SER_CODE(-13824, ETapiInvalCallHandle) SER_CODE(-13825, ETapiInvalCallParams)
    SER_CODE(-13826, ETapiInvalCallPrivilege) SER_CODE(-13827, ETapiInvalCallSelect)
    SER_CODE(-13828, ETapiInvalCallState) SER_CODE(-13829, ETapiInvalCallStatelist)
    SER_CODE(-13830, ETapiInvalCard) SER_CODE(-13831, ETapiInvalCompletionID)
    SER_CODE(-13832, ETapiInvalConfCallHandle) SER_CODE(-13833, ETapiInvalConsultCallHandle)
    SER_CODE(-13834, ETapiInvalCountryCode) SER_CODE(-13835, ETapiInvalDeviceClass)
    SER_CODE(-13836, ETapiInvalDeviceHandle) SER_CODE(-13837, ETapiInvalDialParams)
    SER_CODE(-13838, ETapiInvalDigitList) SER_CODE(-13839, ETapiInvalDigitMode)
    SER_CODE(-13840, ETapiInvalDigits) SER_CODE(-13841, ETapiInvalExtVersion)
    SER_CODE(-13842, ETapiInvalGroupID) SER_CODE(-13843, ETapiInvalLineHandle)
    SER_CODE(-13844, ETapiInvalLineState) SER_CODE(-13845, ETapiInvalLocation)
    SER_CODE(-13846, ETapiInvalMediaList) SER_CODE(-13847, ETapiInvalMediaMode)
    SER_CODE(-13848, ETapiInvalMessageID) SER_CODE(-13850, ETapiInvalParam)
    SER_CODE(-13851, ETapiInvalParkID) SER_CODE(-13852, ETapiInvalParkMode)
    SER_CODE(-13853, ETapiInvalPointer) SER_CODE(-13854, ETapiInvalPrivSelect)
    SER_CODE(-13855, ETapiInvalRate) SER_CODE(-13856, ETapiInvalRequestMode)
    SER_CODE(-13857, ETapiInvalTerminalID) SER_CODE(-13858, ETapiInvalTerminalMode)
    SER_CODE(-13859, ETapiInvalTimeout) SER_CODE(-13860, ETapiInvalTone)
    SER_CODE(-13861, ETapiInvalToneList) SER_CODE(-13862, ETapiInvalToneMode)
    SER_CODE(-13863, ETapiInvalTransferMode) SER_CODE(-13864, ETapiLineMapperFailed)
    SER_CODE(-13865, ETapiNoConference) SER_CODE(-13866, ETapiNoDevice)
    SER_CODE(-13867, ETapiNoDriver) SER_CODE(-13868, ETapiNoMem)
    SER_CODE(-13869, ETapiNoRequest) SER_CODE(-13870, ETapiNotOwner)
    SER_CODE(-13871, ETapiNotRegistered) SER_CODE(-13872, ETapiOperationFailed)
    SER_CODE(-13873, ETapiOperationUnavail) SER_CODE(-13874, ETapiRateUnavail)
    SER_CODE(-13875, ETapiResourceUnavail) SER_CODE(-13876, ETapiRequestOverrun)
    SER_CODE(-13877, ETapiStructureTooSmall) SER_CODE(-13878, ETapiTargetNotFound)
    SER_CODE(-13879, ETapiTargetSelf) SER_CODE(-13880, ETapiUninitialized)
    SER_CODE(-13881, ETapiUserUserInfoTooBig) SER_CODE(-13882, ETapiReinit)
    SER_CODE(-13883, ETapiAddressBlocked) SER_CODE(-13884, ETapiBillingRejected)
    SER_CODE(-13885, ETapiInvalFeature) SER_CODE(-13886, ETapiNoMultipleInstance)
    SER_CODE(-13928, ETapiBusy) SER_CODE(-13929, ETapiNotSet) SER_CODE(-13930, ETapiNoSelect)
    SER_CODE(-13931, ETapiLoadFail) SER_CODE(-13932, ETapiGetAddrFail)
    SER_CODE(-13935, ETapiVoiceNotSupported) SER_CODE(-13936, ETapiWaveFail)
    SER_CODE(-13942, ETapiTranslateFail) SER_CODE(-13980, ERasLoadFail)
#undef SER_CODE
        // clang-format on
        default : break;
  }
  // Codes without a class of their own: the text says only that the layer failed.
  throw ESerException(std::string("Serial exception"));
}

int CheckPortResult(bool beingLoaded, int code) {
  if (code >= 0 || beingLoaded) return code;
  RaisePortError(code);
}

int CheckPortResult(const TSerLoadingState* port, int code) {
  return CheckPortResult(port != nullptr && port->BeingLoaded(), code);
}
