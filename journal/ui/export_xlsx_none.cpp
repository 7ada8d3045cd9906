// Builds without libxlsxwriter (the Windows build) export CSV only.
#include "journal/ui/Export.h"

namespace journal {

bool XlsxAvailable() { return false; }

std::unique_ptr<ExportWriter> MakeXlsxWriter(const QString&, const QString&) {
  throw ExportError("This build writes no .xlsx workbooks");
}

}  // namespace journal
