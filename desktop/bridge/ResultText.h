// The result objects of the page's operations and their text. Texts enter the object as
// UTF-8; the styled writer lays the object out (indented, one member per line, keys in
// ascending order, a line feed at the end) and writes every character above U+007F as "\u"
// with four lower-case hex digits (a pair of them beyond U+FFFF). Because the writer makes
// the escapes itself, a backslash in a value stays a JSON escape ("\\") and reaches the page
// exactly.
#pragma once

#include <json/json.h>

#include <QString>
#include <string>

namespace bridge {

Json::Value Text(const QString& text);
Json::Value Text(const std::string& utf8);

// {"returnCode": 0}, with "result" when given.
Json::Value Success();
Json::Value Success(Json::Value result);
// {"returnCode": code}, with "errorMessage" when given.
Json::Value Failure(int code);
Json::Value Failure(int code, const QString& message);

// The text the page receives.
QString ResultText(const Json::Value& object);

}  // namespace bridge
