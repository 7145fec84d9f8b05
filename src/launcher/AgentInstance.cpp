#include "launcher/AgentInstance.h"

#include "context/StubContext.h"
#include "package/PackX.h"
#include "platform/Platform.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace havrek {

std::string InstallationCopyPath() { return ExeDir(true) + "X_" + FileNamePart(OwnPackage().AgentFileName()); }

std::string AgentMutexName(const std::string& kind, const std::string& copyPath) {
  // Kernel object names hold no "\" past the namespace; the system compares
  // the path without case, and so does the digest.
  return "Local\\havrek-agent-" + kind + "-" + NameDigest(LongPathOf(copyPath));
}

OwnedMutex TakeAgentMutex(const std::string& kind, DWORD waitMs) {
  KernelHandle mutex(::CreateMutexA(nullptr, FALSE, AgentMutexName(kind, InstallationCopyPath()).c_str()));
  if (!mutex) return OwnedMutex();
  const DWORD waited = ::WaitForSingleObject(mutex.get(), waitMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return OwnedMutex();
  return OwnedMutex(mutex.release());
}

bool AgentCopyInstanceHeld() {
  const KernelHandle mutex(
      ::OpenMutexA(SYNCHRONIZE, FALSE, AgentMutexName(kAgentInstanceMutex, InstallationCopyPath()).c_str()));
  if (!mutex) return false;
  const DWORD waited = ::WaitForSingleObject(mutex.get(), 0);
  if (waited == WAIT_TIMEOUT) return true;
  // Taken only to look (or this very process owns it already): given back.
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ::ReleaseMutex(mutex.get());
  return false;
}

}  // namespace havrek
