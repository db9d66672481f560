#include "platform/drivepath/DrivePath.h"

#include <algorithm>

#include "platform/driveroot/DriveRoot.h"

namespace drivepath {

std::string ToLocalPath(const std::string& drivePath) {
  std::string path = drivePath;
  std::replace(path.begin(), path.end(), '\\', '/');
  bool hasLetter = path.size() >= 2 && path[1] == ':' && path[0] >= 'A' && path[0] <= 'Z';
  if (!hasLetter) return path;
  std::string rest = path.substr(2);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (!rest.empty() && rest.front() != '/') rest.insert(rest.begin(), '/');
  return driveroot::DriveRoot() + "/" + path[0] + rest;
}

}  // namespace drivepath
