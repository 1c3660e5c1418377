#pragma once
// Paths as the library takes them: a folder made full once, an executable accepted only as a
// full path to an .exe.

#include <string>

namespace gpu_inventory {

// The folder as a full path, resolved against the current directory now; as given when it
// cannot be resolved (runProbe then refuses what is in it).
std::string fullFolderPath(const std::string& folder);

// Why runProbe refuses the path (nullptr when it takes it): a relative path or one relative
// to a drive's current directory, or a file that is not an .exe (a .bat or .cmd would run
// through cmd.exe, which reads its command line otherwise than CommandLineToArgvW).
const char* executablePathProblem(const std::string& path);

// The folder that holds the file, with its final separator ("C:\probes\").
std::string folderOf(const std::string& path);

}  // namespace gpu_inventory
