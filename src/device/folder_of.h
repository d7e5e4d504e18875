#pragma once

#include <string>

namespace fw {

// The folder a path names its file in: "." for a bare name, "/" for a file at the root.
std::string folderOf(const std::string &path);

} // namespace fw
