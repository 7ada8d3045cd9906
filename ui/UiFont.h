#pragma once

#include <QFont>

namespace settings {

// The windows' text font: on Windows Microsoft YaHei UI, else SimSun; elsewhere
// SimSun where it is installed, else a CJK font that the set-up installs, so
// that Chinese captions never render as empty boxes.
// pixelSize 12 matches a 9-point font on a 96-dpi screen.
QFont UiFont(int pixelSize = 12, bool bold = false);

}  // namespace settings
