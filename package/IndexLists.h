// The distribution tree's index lists ("start.start" and the ".install"
// lists): text files of CR LF terminated lines, each kept twice, in the tree
// and as a mirror in the auxiliary folder.
#pragma once

#include <string>

namespace sitowiak::package {

// Makes sure `line` is in the list `listName` of the tree `root`. Lines
// compare without regard to case. The tree's own copy decides, since the
// mirror, MirrorPath(temp, root + listName), may outlive a tree that was
// deleted or replaced; when the tree's list lacks the line it is appended and
// the list saved to the tree and then to the mirror. True when the line was
// found or both saves succeeded.
bool AddListLine(const std::string& temp, const std::string& root, const std::string& listName,
                 const std::string& line);

}  // namespace sitowiak::package
