#include "agent/Settings.h"
#include "context/StubContext.h"
#include "package/PackX.h"
#include "util/HSUB.h"
#include "util/UtilsRegIniWin.h"

namespace havrek {
namespace {

// Read on every use: the own package is opened after start-up binds this.
std::string OwnInfoName() { return SUB::GetField(OwnPackage().UpdateRecord(), 1); }

}  // namespace

void BindSettingsToIniFiles() {
  SettingsIni binding;
  binding.read = &ReadIniString;
  binding.write = &WriteIniString;
  binding.infoName = &OwnInfoName;
  SetSettingsIni(binding);
}

}  // namespace havrek
