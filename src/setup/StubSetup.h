// The setup flow: unpack a package into the setup folder, start the setup
// engine it carries, wait for the engine and its last dialog, hand the
// engine's exit code on as the stub's own, and clean up.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "util/WinHandle.h"

namespace havrek {

// Runs once, on the first tick of the main window's timer in the setup
// roles; ends the main window's loop when the flow is over.
void SetupTimerTick();

// Unpacks package into target (agent: file name of the auto-update agent to
// write beside the files, or empty), starts the engine with stubArgs and its
// own arguments, and waits for it. foreground shows the window and the
// confirmations and starts the engine visible. True when the engine removed
// the engine atom, that is, finished its work. Never throws.
bool ExtractAndRun(const std::string& target, const std::string& package, const std::string& agent,
                   const std::string& stubArgs, bool foreground);

// "_" + this thread's id, and the names built on it that the engine knows.
std::string ThreadToken();
std::string EngineAtomName();
std::string EngineDialogClass();

// "/hide", the unattended switch or the package's silent flag: no window,
// no confirmation, the engine started hidden.
bool RunsHidden();

// Starts commandLine as it is (no application name, no inherited handles);
// empty when the start failed, with the system's error code in error.
KernelHandle RunProcess(const std::string& commandLine, int showMode, DWORD* error = nullptr);
// Waits, serving messages, until the process has ended; its exit code, 0 when
// it cannot be read or there is no process.
std::uint32_t WaitProcessEnd(HANDLE process);

}  // namespace havrek
