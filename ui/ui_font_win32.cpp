#include "ui/UiFont.h"

#include <QStringList>

namespace settings {

// The Chinese interface fonts Windows itself ships: Microsoft YaHei UI from
// Vista on, SimSun (宋体, its localised name) on older or trimmed systems.
QFont UiFont(int pixelSize, bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("Microsoft YaHei UI"), QStringLiteral("SimSun"), QStringLiteral("宋体")});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

}  // namespace settings
