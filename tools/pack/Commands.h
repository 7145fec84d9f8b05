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
int Keygen(Args& args);

// The whole of a regular file; false with the path and reason.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error);

}  // namespace havrek::pack
