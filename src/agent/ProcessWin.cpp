#include "agent/ProcessWin.h"

#include <tlhelp32.h>

#include "agent/Settings.h"
#include "diag/HDebug.h"
#include "platform/Platform.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsDllWin.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWaitWin.h"
#include "util/WinHandle.h"

namespace havrek {
namespace {

// Reading another process's module names needs exactly these two rights;
// asking for more fails for processes of other users and is not needed.
constexpr DWORD kQueryRights = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kNameChars = 256;

// PSAPI is loaded from the system folder only: a psapi.dll beside a
// downloaded agent must not be the one that runs.
struct PsapiApi {
  using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
  using EnumModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
  using ModuleNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
  EnumProcessesFn enumProcesses = nullptr;
  EnumModulesFn enumModules = nullptr;
  ModuleNameFn fileName = nullptr;
  ModuleNameFn baseName = nullptr;
  bool ok() const { return enumProcesses && enumModules && fileName && baseName; }
};

template <class Fn>
Fn ProcOf(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const PsapiApi& Psapi() {
  static const PsapiApi api = [] {
    PsapiApi a;
    HMODULE module = nullptr;
    LoadDllProc("PSAPI.dll", "", &module);
    if (!module) return a;
    a.enumProcesses = ProcOf<PsapiApi::EnumProcessesFn>(module, "EnumProcesses");
    a.enumModules = ProcOf<PsapiApi::EnumModulesFn>(module, "EnumProcessModules");
    a.fileName = ProcOf<PsapiApi::ModuleNameFn>(module, "GetModuleFileNameExA");
    a.baseName = ProcOf<PsapiApi::ModuleNameFn>(module, "GetModuleBaseNameA");
    return a;
  }();
  return api;
}

struct ToolHelpApi {
  using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
  using WalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);
  SnapshotFn snapshot = nullptr;
  WalkFn first = nullptr;
  WalkFn next = nullptr;
  bool ok() const { return snapshot && first && next; }
};

const ToolHelpApi& ToolHelp() {
  static const ToolHelpApi api = [] {
    ToolHelpApi a;
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    if (!kernel) return a;
    a.snapshot = ProcOf<ToolHelpApi::SnapshotFn>(kernel, "CreateToolhelp32Snapshot");
    a.first = ProcOf<ToolHelpApi::WalkFn>(kernel, "Process32First");
    a.next = ProcOf<ToolHelpApi::WalkFn>(kernel, "Process32Next");
    return a;
  }();
  return api;
}

std::string ShortPath(const std::string& path) {
  const std::string trimmed = Trim(path);
  if (trimmed.empty()) return {};
  std::string buffer(MAX_PATH, '\0');
  DWORD n = ::GetShortPathNameA(trimmed.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n >= buffer.size()) {
    buffer.assign(n, '\0');
    n = ::GetShortPathNameA(trimmed.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  if (n == 0 || n >= buffer.size()) return {};
  buffer.resize(n);
  return buffer;
}

// The ids of all processes, in the system's order; empty without PSAPI.
std::vector<DWORD> ProcessIds() {
  const PsapiApi& api = Psapi();
  std::vector<DWORD> ids;
  if (!api.ok()) return ids;
  // The call cannot tell how much room it lacks: a list that fills the
  // buffer may have been cut, so the buffer grows until it is not full.
  for (DWORD bytes = 1024;; bytes += 1024) {
    ids.assign(bytes / sizeof(DWORD), 0);
    DWORD returned = 0;
    if (!api.enumProcesses(ids.data(), bytes, &returned)) return {};
    if (returned < bytes) {
      ids.resize(returned / sizeof(DWORD));
      return ids;
    }
  }
}

using FullImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, DWORD*);

// Looked up rather than imported: systems before it lack the function and
// fall back to the module names.
FullImageNameFn FullImageName() {
  static const FullImageNameFn fn = [] {
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    return kernel ? ProcOf<FullImageNameFn>(kernel, "QueryFullProcessImageNameA") : nullptr;
  }();
  return fn;
}

void SetNamesFromPath(const std::string& full, ProcessNames& names) {
  names.fullPath = full;
  names.baseName = FileNamePart(full);
  names.shortFullPath = ShortPath(full);
}

// The image path the system records for the process. Unlike the module
// list it is readable across widths (a 32-bit agent cannot read a 64-bit
// program's modules) and needs only the limited query right.
bool ReadImageName(DWORD id, ProcessNames& names) {
  const FullImageNameFn query = FullImageName();
  if (!query) return false;
  const KernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!process) return false;
  std::string buffer(MAX_PATH, '\0');
  // Paths of up to 32767 characters exist; the buffer grows to that at most.
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (query(process.get(), 0, buffer.data(), &size) && size > 0) {
      buffer.resize(size);
      SetNamesFromPath(buffer, names);
      return true;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= 32768) return false;
    buffer.assign(buffer.size() * 4, '\0');
  }
}

// False when the process cannot be opened or its first module not read; the
// handle is closed on every path.
bool ReadModuleNames(DWORD id, ProcessNames& names) {
  const PsapiApi& api = Psapi();
  const KernelHandle process(::OpenProcess(kQueryRights, FALSE, id));
  if (!process) return false;
  HMODULE module = nullptr;
  DWORD needed = 0;
  if (!api.enumModules(process.get(), &module, sizeof module, &needed) || !module) return false;
  char full[kNameChars] = {};
  char base[kNameChars] = {};
  const DWORD fullLen = api.fileName(process.get(), module, full, kNameChars);
  const DWORD baseLen = api.baseName(process.get(), module, base, kNameChars);
  if (fullLen == 0 || baseLen == 0) return false;
  names.fullPath.assign(full, fullLen < kNameChars ? fullLen : kNameChars - 1);
  names.baseName.assign(base, baseLen < kNameChars ? baseLen : kNameChars - 1);
  names.shortFullPath = ShortPath(names.fullPath);
  return true;
}

bool ReadPsapiNames(DWORD id, ProcessNames& names) { return ReadImageName(id, names) || ReadModuleNames(id, names); }

std::uint32_t FindByPsapi(const std::string& target, const std::string& targetShort, bool fullPathOnly) {
  const std::vector<DWORD> ids = ProcessIds();
  for (std::size_t i = ids.size(); i-- > 0;) {
    ProcessNames names;
    if (ids[i] != 0 && ReadPsapiNames(ids[i], names) && ProcessMatches(names, target, targetShort, fullPathOnly))
      return ids[i];
  }
  return 0;
}

std::uint32_t FindByToolHelp(const std::string& target, const std::string& targetShort, bool fullPathOnly) {
  const ToolHelpApi& api = ToolHelp();
  if (!api.ok()) return 0;
  const KernelHandle snapshot(api.snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  std::uint32_t found = 0;
  for (BOOL more = api.first(snapshot.get(), &entry); more; more = api.next(snapshot.get(), &entry)) {
    ProcessNames names;
    const std::string exe = entry.szExeFile;
    names.baseName = FileNamePart(exe);
    // The NT family lists only the file name here: taken for a full path it
    // would let a bare-name target through the full-path-only operations,
    // and its short form would be looked up in the current folder.
    if (names.baseName != exe) {
      names.fullPath = exe;
      names.shortFullPath = ShortPath(exe);
    }
    if (ProcessMatches(names, target, targetShort, fullPathOnly)) found = entry.th32ProcessID;
    entry.dwSize = sizeof entry;
  }
  return found;
}

bool ProcessIdListed(std::uint32_t id) {
  for (const DWORD listed : ProcessIds())
    if (listed == id) return true;
  return false;
}

HWND RootOwner(HWND window) {
  HWND owner = ::GetWindow(window, GW_OWNER);
  if (!owner) return nullptr;
  // Owner chains are short; the bound only guards against a window that
  // changes its owner while it is followed.
  for (int depth = 0; depth < 256; ++depth) {
    const HWND next = ::GetWindow(owner, GW_OWNER);
    if (!next) break;
    owner = next;
  }
  return owner;
}

bool TimedOut(std::int64_t start, std::int64_t timeoutMs) { return timeoutMs != 0 && start + timeoutMs < TickMs(); }

}  // namespace

ProcessSource DefaultProcessSource() { return IsWinNT() ? ProcessSource::psapi : ProcessSource::toolHelp; }

std::uint32_t FindProcessId(const std::string& target, bool fullPathOnly) {
  return FindProcessId(target, fullPathOnly, DefaultProcessSource());
}

std::uint32_t FindProcessId(const std::string& target, bool fullPathOnly, ProcessSource source) {
  const std::string targetShort = ShortPath(target);
  return source == ProcessSource::psapi ? FindByPsapi(target, targetShort, fullPathOnly)
                                        : FindByToolHelp(target, targetShort, fullPathOnly);
}

bool IsProcessRunning(const std::string& target) { return FindProcessId(TrimDequote(target, false), false) != 0; }

void WaitProcessGone(const std::string& target, std::int64_t timeoutMs) {
  const std::string program = TrimDequote(target, false);
  const std::int64_t start = TickMs();
  WaitYielding(0, 1000);
  if (DefaultProcessSource() == ProcessSource::psapi) {
    const std::uint32_t id = FindProcessId(program, false);
    if (id == 0) return;
    do {
      WaitYielding(0, 1000);
    } while (!TimedOut(start, timeoutMs) && ProcessIdListed(id));
    return;
  }
  do {
    WaitYielding(0, 1000);
  } while (!TimedOut(start, timeoutMs) && FindProcessId(program, false) != 0);
}

void TAnalizer::Clear() {
  windows_.clear();
  scores_.clear();
}

BOOL CALLBACK TAnalizer::Add(HWND window, LPARAM self) {
  auto* analizer = reinterpret_cast<TAnalizer*>(self);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == analizer->processId_ && analizer->windows_.size() < kMaxAnalizerWindows)
    analizer->windows_.push_back(window);
  return TRUE;
}

void TAnalizer::Collect() {
  windows_.reserve(kMaxAnalizerWindows);
  ::EnumWindows(Add, reinterpret_cast<LPARAM>(this));
}

void TAnalizer::Score() {
  std::vector<WindowFacts> facts;
  facts.reserve(windows_.size());
  for (const HWND window : windows_) {
    WindowFacts f;
    f.handle = reinterpret_cast<std::uintptr_t>(window);
    f.rootOwner = reinterpret_cast<std::uintptr_t>(RootOwner(window));
    char caption[1025] = {};
    f.hasCaption = ::GetWindowTextA(window, caption, sizeof caption) > 0;
    f.visible = ::IsWindowVisible(window) != FALSE;
    facts.push_back(f);
  }
  scores_ = ScoreWindows(facts);
}

HWND TAnalizer::Best() const {
  const std::ptrdiff_t best = BestWindowIndex(scores_);
  return best < 0 ? nullptr : windows_[static_cast<std::size_t>(best)];
}

HWND FindProcessWindow(const std::string& target, bool fullPathOnly) {
  const std::uint32_t id = FindProcessId(target, fullPathOnly);
  if (id == 0) return nullptr;
  TAnalizer analizer(id);
  analizer.Clear();
  analizer.Collect();
  analizer.Score();
  return analizer.Best();
}

bool PostProcessMessage(const std::string& target, bool fullPathOnly, UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = FindProcessWindow(target, fullPathOnly);
  if (!window) return false;
  ::PostMessageA(window, message, wParam, lParam);
  return true;
}

bool CloseProcessWindow(const std::string& target, bool fullPathOnly) {
  return PostProcessMessage(target, fullPathOnly, WM_CLOSE, kShutDownWParam, kShutDownLParam);
}

bool QuitProcessWindow(const std::string& target, bool fullPathOnly) {
  return PostProcessMessage(target, fullPathOnly, WM_QUIT, kShutDownWParam, kShutDownLParam);
}

bool KillProcess(const std::string& target, bool fullPathOnly) {
  const std::uint32_t id = FindProcessId(target, fullPathOnly);
  DebugLine(KillProcessLine(id, plat::Exists(target), target));
  if (id == 0) return false;
  const KernelHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, id));
  return process && ::TerminateProcess(process.get(), 0);
}

ShutDownResult ShutDownProcess(const std::string& program, const std::string& method,
                               std::int64_t unattendedWaitMs) {
  ShutDownResult result;
  result.wasRunning = IsProcessRunning(program);
  LogLine(ShutDownStartLine(program, method));
  const ShutDownMethod how = ShutDownMethodOf(method);
  bool wait = ShutDownWaits(how);
  if (how == ShutDownMethod::none) LogLine(UnknownMethodLine(method));
  if (how == ShutDownMethod::messageBox) {
    const std::string message = CloseRequestText(GetAUText("s15"), program);
    DebugLine("s1=" + message + "<");
    if (Unattended()) {
      // Every box would be answered at once: asking again at once would
      // spin for as long as the program runs. Nobody is there to close it,
      // so the wait is bounded and the update put off when it runs out.
      if (result.wasRunning) LogLine(UnattendedWaitLine(program, unattendedWaitMs));
      WaitProcessGone(program, unattendedWaitMs);
      wait = false;
    } else {
      while (IsProcessRunning(program))
        WarningBox(kOwnerHeading, message, GetMsgBoxAttention(), 0, static_cast<int>(GetMsgBoxCharSet()),
                   GetMsgBoxBtnText());
    }
  }
  DebugLine(PidText() + " ==== PerformAutoUpdate-8 ====");
  bool reached = true;
  if (how == ShutDownMethod::close) reached = CloseProcessWindow(program, true);
  if (how == ShutDownMethod::quit) reached = QuitProcessWindow(program, true);
  if (how == ShutDownMethod::terminate) reached = KillProcess(program, true);
  if (!reached && result.wasRunning) LogLine(NotReachedLine(program, method));
  if (wait) WaitProcessGone(program, 0);
  DebugLine(PidText() + " ==== PerformAutoUpdate-9 ====");
  LogLine("Shut Down Process() - END");
  result.stillRunning = IsProcessRunning(program);
  result.putOff = ShutDownPutsOff(how, result.stillRunning);
  if (result.putOff) LogLine(PutOffLine(program));
  return result;
}

}  // namespace havrek
