// What Windows says about a file's Authenticode signature. The libraries
// come from the system folder, and only once a signature is first checked.
#pragma once

#include <windows.h>

#include <string>

#include "download/signature.h"

namespace stub {

// The facts about the open file `file` named `path`: WinVerifyTrust's result
// (no dialog, nothing fetched from the network), then the signing
// certificate's chain to a trusted root and its SHA-256.
SignatureFacts FileSignature(const std::u16string& path, HANDLE file);

}  // namespace stub
