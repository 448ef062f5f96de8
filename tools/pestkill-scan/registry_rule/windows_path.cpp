#include "tools/pestkill-scan/registry_rule/windows_path.h"

bool SplitDriveC(const std::u16string& windowsPath, std::u16string* relative) {
  if (windowsPath.size() < 3 || (windowsPath[0] != u'C' && windowsPath[0] != u'c') || windowsPath[1] != u':' ||
      (windowsPath[2] != u'\\' && windowsPath[2] != u'/'))
    return false;
  *relative = windowsPath.substr(3);
  return true;
}
