// The commands of havrek-pack. Each reads its own options from args and
// returns the exit code; bad usage raises UsageError, a failure with its file
// and reason may raise ToolFailure.
#pragma once

#include <string>
#include <vector>

#include "Args.h"

namespace havrek::pack {

int Build(Args& args);
int InfoPage(Args& args);
int Show(Args& args);
int List(Args& args);
int Test(Args& args);
int Extract(Args& args);
int MakeOffer(Args& args);
int SignOffer(Args& args);
int VerifyOffer(Args& args);
int Keygen(Args& args);

// The whole of a regular file; false with the path and reason.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error);
// Writes path whole through a temporary file renamed into place; refuses a
// path that is one of inputs or no regular file. False with the reason.
bool WriteWholeFile(const std::string& path, const std::string& bytes, const std::vector<std::string>& inputs,
                    std::string& error);
// Raises ToolFailure when the folder path is to be written in is missing.
void CheckOutputFolder(const std::string& option, const std::string& path);

}  // namespace havrek::pack
