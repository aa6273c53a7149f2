// How the package builder names files: a path splits into a one-letter folder
// code and the rest, and any path can be mirrored inside the temporary folder.
//
//   code  folder
//   S     SystemFolder        tried before W, which contains it
//   W     WindowsFolder
//   P     ProgramFilesFolder  tried before C
//   C     CommonFilesFolder
//   ~     none of them; the rest is the whole path
#pragma once

#include <string>

namespace sitowiak::package {

struct ClassifiedPath {
    std::string code;
    std::string rest;
};

ClassifiedPath ClassifyPath(const std::string& path);

// Every ":" becomes "~" and every "//" becomes "~~" (single separators
// stay), so that a path placed after the temporary folder stays inside it.
std::string FlattenPath(const std::string& text);

// Where the auxiliary folder mirrors `path`: `temp` followed by the path made
// absolute and normal, then flattened. Absolute, so that trees named relative
// to different folders never share a mirror; normal, so that "..", "." and
// doubled separators cannot lead out of the temporary folder.
std::string MirrorPath(const std::string& temp, const std::string& path);

// The path up to and including its last "/"; empty when it has none.
std::string FolderPart(const std::string& path);
// The path after its last "/".
std::string FileNamePart(const std::string& path);

}  // namespace sitowiak::package
