#include "serial/DeviceDispatcher.h"

#include <thread>

#include "serial/SerialErrors.h"

TSerDeviceDispatcher::TSerDeviceDispatcher(TSerCustomComPort* owner, std::unique_ptr<TSerDevice> device)
    : TSerThreadedDispatcher(owner), Device_(std::move(device)), WaitsForInput_(Device_->WaitsForInput()) {}

int TSerDeviceDispatcher::EscapeComFunction(int func) {
  if (!Device_->IsOpen()) return serial_codes::ecCommNotOpen;
  switch (func) {
    case EscSetRts:
    case EscClrRts:
    case EscSetDtr:
    case EscClrDtr: return Device_->Escape(func);
    default: return 0;  // the UART base address has no counterpart on these drivers
  }
}

int TSerDeviceDispatcher::GetComError(TSerComStat& status) {
  if (!Device_->IsOpen()) return 0;
  // Counting the waiting bytes may collect error bits, which TakeLineErrors then reports.
  status.InQue = Device_->BytesWaiting(status.Flags);
  status.OutQue = OutputPending();
  return Device_->TakeLineErrors();
}

int TSerDeviceDispatcher::ReadFailed(int) { return 0; }

uint8_t TSerDeviceDispatcher::TakeReadLineErrors() { return Device_->IsOpen() ? Device_->TakeLineErrors() : 0; }

int TSerDeviceDispatcher::GetComState(TSerLineSettings& settings) {
  if (!Device_->IsOpen()) return serial_codes::ecCommNotOpen;
  return Device_->GetLine(settings);
}

int TSerDeviceDispatcher::ReadCom(uint8_t* buffer, uint32_t size) {
  if (!Device_->IsOpen()) return 0;
  const int n = Device_->Read(buffer, size);
  if (Device_->Dead()) Status_.LineLost.store(true);
  return n;
}

int TSerDeviceDispatcher::SetComState(const TSerLineSettings& settings) {
  if (!Device_->IsOpen()) return serial_codes::ecCommNotOpen;
  return Device_->SetLine(settings);
}

bool TSerDeviceDispatcher::WaitComEvent(uint32_t& mask) {
  mask = Device_->WaitEvent();
  if (mask & EvHangup) Status_.LineLost.store(true);
  return mask != 0;
}

int TSerDeviceDispatcher::SetupCom(uint32_t inSize, uint32_t outSize) {
  if (!Device_->IsOpen()) return serial_codes::ecCommNotOpen;
  Device_->Setup(inSize, outSize);
  return 0;
}

int TSerDeviceDispatcher::OpenComDevice(const std::string& path, uint32_t, uint32_t) {
  // The queue sizes follow through SetupCom.
  const int code = Device_->Open(path);
  OpenFailure_ = Device_->Failure();
  if (code != 0) return code;
  CloseDeferred_.store(false);
  DeviceHandle_.store(Device_->HandleNumber());
  return Device_->HandleNumber();
}

int TSerDeviceDispatcher::CloseComDevice() {
  if (ThreadsHoldDevice()) {
    // The threads still use the device: stop them now and close it once they
    // have ended, so that no thread ever waits on a closed handle or touches a
    // descriptor number the system has handed out again.
    Run_.StopRequested.store(true);
    Device_->CancelWait();
    Device_->WakeInput();
    if (Signals_.Events) {
      Signals_.Events->ComEventDone.Set();
      Signals_.Events->ThreadAck.Reset();
    }
    CloseDeferred_.store(true);
    DeviceHandle_.store(-1);
    return 0;
  }
  DeviceHandle_.store(-1);
  return Device_->Close();
}

int TSerDeviceDispatcher::YieldTimeSlice() {
  std::this_thread::yield();
  return 0;
}

uint8_t TSerDeviceDispatcher::GetModemLines() { return Device_->IsOpen() ? Device_->ModemStates() : 0; }

int TSerDeviceDispatcher::DeviceWrite(const uint8_t* buffer, uint32_t size) {
  const int n = Device_->Write(buffer, size);
  if (Device_->Dead()) Status_.LineLost.store(true);
  return n;
}

bool TSerDeviceDispatcher::WaitDeviceWritable() { return Device_->WaitWritable(); }

void TSerDeviceDispatcher::WakeWriter() { Device_->WakeWriter(); }

void TSerDeviceDispatcher::CancelEventWait() { Device_->CancelWait(); }

uint32_t TSerDeviceDispatcher::WaitDeviceInput(bool watchData, int timeoutMs) {
  const uint32_t mask = Device_->WaitInput(watchData, timeoutMs);
  if (mask & EvHangup) Status_.LineLost.store(true);
  return mask;
}

void TSerDeviceDispatcher::WakeDelivery() { Device_->WakeInput(); }

int TSerDeviceDispatcher::DiscardDevice(int queue) { return Device_->IsOpen() ? Device_->Discard(queue) : 0; }

void TSerDeviceDispatcher::DeviceThreadsEnded() {
  if (CloseDeferred_.exchange(false)) Device_->Close();
}

void TSerDeviceDispatcher::NameCurrentThread(TSerThreadKind kind) { Device_->NameCurrentThread(kind); }
