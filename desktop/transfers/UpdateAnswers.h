// The JSON answers of the updater to the page: {"returnCode": 0, "result": ...} or
// {"returnCode": -1, "errorMessage": ...}, written as one line with every non-ASCII character
// as a \u sequence, and the script that hands one to a page function.
#pragma once

#include <json/json.h>

#include <QString>

namespace update_answers {

inline QString JsonText(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = false;
  return QString::fromStdString(Json::writeString(builder, value));
}

inline Json::Value Failure(const QString& message) {
  Json::Value object(Json::objectValue);
  object["returnCode"] = -1;
  object["errorMessage"] = message.toStdString();
  return object;
}

inline Json::Value Success(const Json::Value& result) {
  Json::Value object(Json::objectValue);
  object["returnCode"] = 0;
  object["result"] = result;
  return object;
}

// The script that calls the page function `callback` with `answer`.
inline QString Script(const QString& callback, const Json::Value& answer) {
  return callback + QStringLiteral("(") + JsonText(answer) + QStringLiteral(")");
}

}  // namespace update_answers
