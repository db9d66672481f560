#include "server/state/TreeError.h"

namespace qserver {

const char* TreeErrorText(TreeError error) {
  switch (error) {
    case TreeError::kNone:
      return "ok";
    case TreeError::kNotFound:
      return "File not found";
    case TreeError::kAccessDenied:
      return "Access denied";
    case TreeError::kName:
      return "Name";
    case TreeError::kExists:
      return "Exists";
  }
  return "File not found";
}

}  // namespace qserver
