// Making a folder with any parents it lacks: the one place the program creates folders.
#pragma once

#include <string>

#include "platform/status.h"

// Makes `folder` and every missing parent; a folder already there is success. Fails with the
// system's reason (Error() its errno value), or with "a file of that name is in the way" and
// Error() 0 when the name ends up taken by something other than a folder.
CStatus MakeFolder(const std::string& folder);
