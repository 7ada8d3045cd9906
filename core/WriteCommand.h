#pragma once

#include <string>
#include <variant>

// Card writing without widgets: the write frame for the ticked tracks, the
// checks of the two builders (typed or continuous data, and data from record
// files).
namespace station {

// Texts the builders show, UTF-8.
inline constexpr const char* kMsgNeedStep = "请输入连续写卡内容和增量数值";
inline constexpr const char* kMsgNeedData = "请输入写卡内容";
inline constexpr const char* kMsgNoFileChosen = "没有选择文件名,请按浏览按钮选择文件名";
inline constexpr const char* kMsgFileRecordEmpty = "文件中无内容,请重新按浏览按钮选择文件名";

// What one track group contributes to a build. Texts are byte strings.
struct WriteTrackInput {
  bool ticked = false;      // track box
  bool continuous = false;  // continuous box
  bool stepEmpty = false;   // step field empty
  bool fileBox = false;     // file box
  bool fileChosen = false;  // the file-name label shows a file
  std::string text;         // track field as it stands
};

struct WriteArming {
  std::string command;  // hex text
  int tracks = 0;       // 1 track 2, 2 track 3, 3 both
};

enum class FocusTarget { none, tk2Step, tk3Step, track2, track3 };

struct WriteRefusal {
  const char* message = "";
  FocusTarget focus = FocusTarget::none;  // where the focus ends
};

// monostate: no track ticked, nothing happens and nothing is shown.
using WriteBuild = std::variant<std::monostate, WriteArming, WriteRefusal>;

// "1B74" + hex(track 2) [+ "41" + hex(track 3)] + "1D1B5C"; with track 3 alone
// the track 2 part is empty, so the 'A' follows ESC 't' directly.
std::string WriteFrame(int tracks, const std::string& track2, const std::string& track3);

// Normal and continuous writing.
WriteBuild BuildTypedWrite(const WriteTrackInput& track2, const WriteTrackInput& track3);

// File writing; never moves the focus.
WriteBuild BuildFileWrite(const WriteTrackInput& track2, const WriteTrackInput& track3);

}  // namespace station
