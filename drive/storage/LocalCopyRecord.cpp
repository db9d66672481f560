#include "drive/storage/LocalCopyRecord.h"

#include <json/json.h>

#include <memory>

#include "platform/codepage/CodePage.h"

std::string RecordText(const LocalCopyRecord& record) {
  Json::Value value(Json::objectValue);
  value["serviceId"] = codepage::WideToUtf8(record.serviceId);
  value["parentId"] = codepage::WideToUtf8(record.parentId);
  value["name"] = codepage::WideToUtf8(record.name);
  value["baseVersion"] = record.baseVersion;
  value["size"] = Json::Int64(record.size);
  value["dirty"] = record.dirty;
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  return Json::writeString(writer, value) + "\n";
}

bool ParseRecord(std::string_view text, LocalCopyRecord* record, std::string* error) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value value;
  std::string problem;
  if (!reader->parse(text.data(), text.data() + text.size(), &value, &problem)) {
    *error = "not JSON: " + problem;
    return false;
  }
  if (!value.isObject()) {
    *error = "not a JSON object";
    return false;
  }
  for (const char* key : {"serviceId", "parentId", "name", "baseVersion"}) {
    if (!value[key].isString()) {
      *error = std::string("no text \"") + key + "\"";
      return false;
    }
  }
  if (!value["size"].isInt64() || !value["dirty"].isBool()) {
    *error = "no number \"size\" or flag \"dirty\"";
    return false;
  }
  if (value["name"].asString().empty() || value["parentId"].asString().empty()) {
    *error = "empty \"name\" or \"parentId\"";
    return false;
  }
  record->serviceId = codepage::Utf8ToWide(value["serviceId"].asString());
  record->parentId = codepage::Utf8ToWide(value["parentId"].asString());
  record->name = codepage::Utf8ToWide(value["name"].asString());
  record->baseVersion = value["baseVersion"].asString();
  record->size = value["size"].asInt64();
  record->dirty = value["dirty"].asBool();
  return true;
}
