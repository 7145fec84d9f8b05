// Facts about the system: the user, the machine, the Windows version, error
// texts, file versions and the few process-wide switches read from it. Every
// failure gives an empty text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>


namespace havrek {

std::string CurrentUserName();
std::string ComputerName();
bool IsWinNT();
std::string WindowsVersionKey();
std::string OwnerName();
std::string OrganizationName();
std::string AccountDomain(const std::string& account);
std::string CurrentUserDomain();

std::string SystemErrorText(DWORD code);
std::string LastErrorText();

// "major.minor.release.build" of the fixed file version; empty file = the
// running executable; empty text when the file carries no version block.
std::string FileVersionText(const std::string& file = std::string());

// The shell's "QueryCancelAutoPlay" message while a setup reads its disks
// (0 while none is registered).
void RegisterAutoPlayMessage(bool on);
UINT AutoPlayMessage();

// True when the environment variable DVX is "952"; read once.
bool DeveloperMode();

}  // namespace havrek
