// libcurl's global set-up, which every part of the program that makes a curl handle runs first.
#pragma once

namespace zembrat::platform {

// Runs curl_global_init once for the process, however many threads ask at once; every later
// call gives the first one's answer. False when the set-up failed (no handle may then be made).
bool InitCurlOnce();

}  // namespace zembrat::platform
