#include "desktop/bridge/ResultText.h"

namespace bridge {

Json::Value Text(const QString& text) { return Json::Value(text.toStdString()); }

Json::Value Text(const std::string& utf8) { return Json::Value(utf8); }

Json::Value Success() {
  Json::Value object;
  object["returnCode"] = 0;
  return object;
}

Json::Value Success(Json::Value result) {
  Json::Value object = Success();
  object["result"] = std::move(result);
  return object;
}

Json::Value Failure(int code) {
  Json::Value object;
  object["returnCode"] = code;
  return object;
}

Json::Value Failure(int code, const QString& message) {
  Json::Value object = Failure(code);
  object["errorMessage"] = Text(message);
  return object;
}

QString ResultText(const Json::Value& object) {
  // The writer's output is plain ASCII: every other character is escaped.
  return QString::fromStdString(Json::StyledWriter().write(object));
}

}  // namespace bridge
