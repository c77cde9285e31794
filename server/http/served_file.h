// Maps a request target onto a file inside the served folder, refusing
// anything that would lead outside it.
#pragma once

#include <string>
#include <string_view>

namespace stub::server {

// The path part of `target` (query dropped; an absolute-form
// "http://host/path" reduced to "/path"), percent-decoded, as a list of
// segments under `root`. Empty when the path holds a ".." segment or a NUL
// byte. "." and empty segments are skipped.
std::string JoinUnderRoot(const std::string& root, std::string_view target);

// The resolved path of the regular file that `target` names under `root`,
// after following every symbolic link; empty when there is none or when it
// lies outside `root`.
std::string ResolveServedFile(const std::string& root, std::string_view target);

}  // namespace stub::server
