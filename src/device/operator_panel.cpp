// The two framed log messages, written once on top of AppendLog.
#include "device/operator_panel.h"

#include <string>

namespace zephor::device {

void LogSection(OperatorPanel& panel, std::string_view message) {
  panel.AppendLog("\t--------------------------\r\n");
  panel.AppendLog("\t----  ZEPHOR  ----\r\n");
  panel.AppendLog("\t--------------------------\r\n");
  panel.AppendLog("\t" + std::string(message) + "\r\n");
}

void LogError(OperatorPanel& panel, std::string_view message) {
  panel.AppendLog("\t-----------------------\r\n");
  panel.AppendLog("\t----  Error ----\r\n");
  panel.AppendLog("\t-----------------------\r\n");
  panel.AppendLog("\t" + std::string(message) + "\r\n");
}

}  // namespace zephor::device
