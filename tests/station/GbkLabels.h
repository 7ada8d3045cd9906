#pragma once

#include <string>

namespace station::testing_support {

// "磁道1卡号:" and "磁道2卡号:" in GBK, as saved lists begin their lines.
inline const std::string kTrack2LabelGbk =
    "\xb4\xc5\xb5\xc0"
    "1"
    "\xbf\xa8\xba\xc5"
    ":";
inline const std::string kTrack3LabelGbk =
    "\xb4\xc5\xb5\xc0"
    "2"
    "\xbf\xa8\xba\xc5"
    ":";

}  // namespace station::testing_support
