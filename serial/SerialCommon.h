// Constants and small types shared by every file of the serial layer.
#pragma once

#include <cstdint>

// Notification message numbers: the dispatcher delivers them, the component's
// notification window dispatches them, the card station reacts to them.
constexpr uint16_t TriggerAvailMsg = 0x7E01;   // Data: number of unread bytes
constexpr uint16_t TriggerDataMsg = 0x7E02;    // wParam: data trigger handle
constexpr uint16_t TriggerTimerMsg = 0x7E03;   // wParam: timer trigger handle
constexpr uint16_t TriggerStatusMsg = 0x7E04;  // wParam: status trigger handle
constexpr uint16_t PortClosingMsg = 0x7E0A;    // finishes a close deferred during a delivery
constexpr uint16_t LineLostMsg = 0x7E0B;       // the device went away (hung up); sent once per open

constexpr const char* SerialLayerVersion = "v1.00";

enum TDeviceLayer : uint8_t { dlWin32, dlWinsock };
enum TParity : uint8_t { pNone, pOdd, pEven, pMark, pSpace };
enum THWFlowOptions : uint8_t { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };
enum TSWFlowOptions : uint8_t { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState : uint8_t { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TTapiMode : uint8_t { tmNone, tmAuto, tmOn, tmOff };
enum TPortState : uint8_t { stClosed = 0, stClosing = 1, stActive = 2 };

// Hardware flow option bits as SetHardwareFlow takes them.
constexpr uint8_t HwfUseDtrBit = 0x01;
constexpr uint8_t HwfUseRtsBit = 0x02;
constexpr uint8_t HwfRequireDsrBit = 0x04;
constexpr uint8_t HwfRequireCtsBit = 0x08;

// Software flow mode as SetSoftwareFlow takes it.
constexpr uint8_t SwfTransmitBit = 0x01;
constexpr uint8_t SwfReceiveBit = 0x02;

// Bits of the options byte given to OpenCom.
constexpr uint8_t OpenOptDtr = 0x01;
constexpr uint8_t OpenOptRts = 0x02;
constexpr uint8_t OpenOptDtrHandshake = 0x10;
constexpr uint8_t OpenOptRtsHandshake = 0x20;
constexpr uint8_t OptionEventWord = 0x10;  // dispatcher option bit 4; nothing reads it

// Accumulated line-error bits.
constexpr uint8_t LineRxOverflow = 0x01;
constexpr uint8_t LineOverrun = 0x02;
constexpr uint8_t LineParity = 0x04;
constexpr uint8_t LineFraming = 0x08;
constexpr uint8_t LineBreak = 0x10;

// Modem status byte: high nibble current line states, low nibble change bits.
constexpr uint8_t ModemCts = 0x10;
constexpr uint8_t ModemDsr = 0x20;
constexpr uint8_t ModemRing = 0x40;
constexpr uint8_t ModemDcd = 0x80;
constexpr uint8_t ModemDeltaCts = 0x01;
constexpr uint8_t ModemDeltaDsr = 0x02;
constexpr uint8_t ModemDeltaRing = 0x04;
constexpr uint8_t ModemDeltaDcd = 0x08;

// Device event mask bits reported by WaitComEvent.
constexpr uint32_t EvRxChar = 0x0001;
constexpr uint32_t EvCts = 0x0008;
constexpr uint32_t EvDsr = 0x0010;
constexpr uint32_t EvRlsd = 0x0020;
constexpr uint32_t EvBreak = 0x0040;
constexpr uint32_t EvErr = 0x0080;
constexpr uint32_t EvRing = 0x0100;
constexpr uint32_t EvRingTe = 0x2000;
constexpr uint32_t EvHangup = 0x10000;                                        // the device went away; reported once
constexpr uint32_t EvModemMask = EvCts | EvDsr | EvRlsd | EvRing | EvRingTe;  // 0x2138
constexpr uint32_t EvLineMask = EvBreak | EvErr;                              // 0xC0
constexpr uint32_t EvDefaultMask = 0x01F9;

// Escape functions for EscapeComFunction.
constexpr int EscSetRts = 3;
constexpr int EscClrRts = 4;
constexpr int EscSetDtr = 5;
constexpr int EscClrDtr = 6;

// Queues for FlushCom.
constexpr int FlushOutput = 0;
constexpr int FlushInput = 1;

// Status trigger kinds (low 3 bits of a status trigger's handle).
constexpr uint16_t StatusModem = 1;
constexpr uint16_t StatusLineError = 2;
constexpr uint16_t StatusOutBuffFree = 3;
constexpr uint16_t StatusOutBuffUsed = 4;
constexpr uint16_t StatusOutSent = 5;

// Log entry types and subtypes; their names are the texts of codes 15001 + type
// and 15100 + subtype in the error text table.
enum TSerLogType : uint8_t {
  ltNone,
  ltDispatch,
  ltTrigger,
  ltError,
  ltThread,
  ltTrigAlloc,
  ltTrigDispose,
  ltTrigHandlerAlloc,
  ltTrigHandlerDispose,
  ltTrigDataChange
};
enum TSerLogSubType : uint8_t {
  lsNone,
  lsReadCom,
  lsWriteCom,
  lsLineStatus,
  lsModemStatus,
  lsAvail,
  lsTimer,
  lsData,
  lsStatus,
  lsStart,
  lsExit,
  lsSleep,
  lsWake,
  lsDataTrigger,
  lsTimerTrigger,
  lsStatusTrigger,
  lsAvailTrigger,
  lsWindow,
  lsProcedure,
  lsMethod
};
constexpr int LogTypeLabelBase = 15001;
constexpr int LogSubTypeLabelBase = 15100;

// Thread priority scale used by SetThreadBoost.
enum TSerThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
