// What a drive program's result code means to the user. The page's failure texts for name
// operations end in the code itself ("其他错误:-6009"); beside that text the answer carries a
// sentence ("errorText") that the page shows instead, so no one reads a bare number.
#pragma once

#include <json/json.h>

#include <QString>

namespace bridge {

// A Chinese sentence for `code`, one of the codes that the drive program's pipe operations
// answer; a general sentence for codes without one of their own.
QString DriveCodeSentence(int code);

// {"returnCode": -1, "errorMessage": message followed by the code, "errorText": its sentence}.
Json::Value DriveCodeFailure(const QString& message, int code);

}  // namespace bridge
