#include "settings/DeviceProbe.h"

#include <exception>
#include <string_view>

#include "serial/ComPort.h"
#include "serial/OpenFailure.h"

namespace settings {
namespace {

constexpr char kAnswered[] = "读写器已应答。";
constexpr char kSilent[] = "没有读写器应答：请检查连线和电源。";
constexpr char kCannotOpen[] = "串口不存在或被占用。";
constexpr unsigned char kStatusQuery[] = {0x1B, 0x6A};
// What an idle card device answers to the status query. Only this counts: a
// line that loops the query back, or noise that happens to hold an ESC, must
// not pass for a device.
constexpr std::string_view kStatusReply =
    "\x1B"
    "ok";

}  // namespace

DeviceProbe::DeviceProbe(QObject* parent) : QObject(parent), port_(std::make_unique<TSerComPort>()) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] { Conclude(QString::fromUtf8(kSilent)); });

  port_->BeginLoading();
  port_->SetComNumber(1);
  port_->SetBaud(9600);
  port_->SetAutoOpen(false);
  port_->SetPromptForPort(false);
  port_->SetDTR(false);
  port_->SetRTS(false);
  port_->SetXOnChar(0xFF);
  port_->SetXOffChar(0xFF);
  port_->SetPortResolver([this](std::uint16_t) { return devicePath_; });
  port_->SetOnTriggerAvail([this](TSerCustomComPort* CP, std::uint16_t count) {
    if (concluding_) return;
    for (std::uint16_t i = 0; i < count; ++i) received_.push_back(static_cast<char>(CP->GetChar()));
    if (received_.find(kStatusReply) == std::string::npos) {
      // Anything else is no answer and the wait goes on; the reply may still
      // begin in the last bytes and end in the next chunk.
      const std::size_t keep = kStatusReply.size() - 1;
      if (received_.size() > keep) received_.erase(0, received_.size() - keep);
      return;
    }
    concluding_ = true;
    // The port is closed outside the notification handler.
    QMetaObject::invokeMethod(
        this, [this] { Conclude(QString::fromUtf8(kAnswered)); }, Qt::QueuedConnection);
  });
  port_->Loaded();
}

DeviceProbe::~DeviceProbe() = default;

void DeviceProbe::Start(const std::string& devicePath, std::chrono::milliseconds wait) {
  if (running_) return;
  running_ = true;
  concluding_ = false;
  received_.clear();
  devicePath_ = devicePath;
  try {
    port_->SetOpen(true);
    port_->PutBlock(kStatusQuery, sizeof kStatusQuery);
  } catch (const std::exception& e) {
    // The second line names the path and the cause when the layer knows them.
    std::string text = kCannotOpen;
    const std::string detail = OpenFailureText(OpenFailureOf(e));
    if (!detail.empty()) text += "\n" + detail;
    Conclude(QString::fromUtf8(text));
    return;
  }
  timer_.start(wait);
}

void DeviceProbe::Conclude(const QString& text) {
  if (!running_) return;
  timer_.stop();
  try {
    port_->SetOpen(false);
  } catch (const std::exception&) {
    // Nothing was recorded on this port, so a close has nothing to report.
  }
  running_ = false;
  emit Finished(text);
}

}  // namespace settings
