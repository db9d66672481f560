#include "desktop/tasklines/TaskLine.h"

#include <json/json.h>

#include <charconv>
#include <memory>

namespace tasklines {
namespace {

constexpr int kStatusLimit = 11;

std::string Compact(const Json::Value& object) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  std::string text = Json::writeString(builder, object);
  std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
  return text + "\r\n";
}

void PutCommon(const TaskFields& task, Json::Value& object) {
  object["CompletedTime"] = std::to_string(task.completedTime);
  object["CreateTime"] = std::to_string(task.createTime);
  object["FileName"] = task.fileName;
  object["FilePath"] = task.filePath;
  object["FullSize"] = std::to_string(task.fullSize);
  object["Size"] = std::to_string(task.size);
  object["Status"] = task.status == kTaskCompleted ? kTaskCompleted : kTaskStopped;
  object["Time"] = task.time;
}

constexpr int kMaxNesting = 16;

std::optional<Json::Value> ParseObject(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  // A task line is one flat object. The parser recurses once per nesting level and throws
  // past its limit: a line of thousands of "[" is rejected like any other malformed line.
  builder["stackLimit"] = kMaxNesting;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value object;
  std::string errors;
  try {
    if (!reader->parse(line.data(), line.data() + line.size(), &object, &errors)) return {};
  } catch (const Json::Exception&) {
    return {};
  }
  if (!object.isObject()) return {};
  return object;
}

// A member holding a whole decimal number in a string, within [0, limit].
std::optional<int64_t> Decimal(const Json::Value& object, const char* key, int64_t limit) {
  const Json::Value& value = object[key];
  if (!value.isString()) return {};
  const char* begin = nullptr;
  const char* end = nullptr;
  if (!value.getString(&begin, &end) || begin == end) return {};
  int64_t number = 0;
  auto [stop, error] = std::from_chars(begin, end, number);
  if (error != std::errc() || stop != end || number < 0 || number > limit) return {};
  return number;
}

std::optional<int32_t> Integer(const Json::Value& object, const char* key) {
  const Json::Value& value = object[key];
  if (!value.isInt()) return {};
  return value.asInt();
}

std::optional<std::string> Text(const Json::Value& object, const char* key) {
  const Json::Value& value = object[key];
  if (!value.isString()) return {};
  return value.asString();
}

// The members both files share, with every check.
std::optional<TaskFields> ParseCommon(const Json::Value& object) {
  constexpr int64_t kMax32 = UINT32_MAX;
  constexpr int64_t kMax64 = INT64_MAX;
  auto status = Integer(object, "Status");
  if (!status || *status >= kStatusLimit) return {};
  auto created = Decimal(object, "CreateTime", kMax32);
  auto completed = Decimal(object, "CompletedTime", kMax32);
  auto size = Decimal(object, "Size", kMax64);
  auto fullSize = Decimal(object, "FullSize", kMax64);
  auto time = Integer(object, "Time");
  auto path = Text(object, "FilePath");
  auto name = Text(object, "FileName");
  if (!created || !completed || !size || !fullSize || *fullSize < *size) return {};
  if (!time || *time < 0 || !path || !name) return {};
  TaskFields task;
  task.status = *status == kTaskCompleted ? kTaskCompleted : kTaskStopped;
  task.createTime = static_cast<uint32_t>(*created);
  task.completedTime = static_cast<uint32_t>(*completed);
  task.size = *size;
  task.fullSize = *fullSize;
  task.time = *time;
  task.filePath = *path;
  task.fileName = *name;
  return task;
}

}  // namespace

std::string DownloadLine(const TaskFields& task) {
  Json::Value object(Json::objectValue);
  PutCommon(task, object);
  object["FileId"] = task.id;
  object["Url"] = task.url;
  if (!task.partPath.empty()) object["PartFile"] = task.partPath;
  return Compact(object);
}

std::string UploadLine(const TaskFields& task) {
  Json::Value object(Json::objectValue);
  PutCommon(task, object);
  object["PId"] = task.parentId;
  object["UpId"] = task.id;
  if (task.remoteSize >= 0) {
    object["RemoteSize"] = std::to_string(task.remoteSize);
    object["RemoteTime"] = std::to_string(task.remoteTime);
  }
  if (task.failure != kFailureNone) object["Failure"] = task.failure;
  return Compact(object);
}

std::optional<TaskFields> ParseDownloadLine(std::string_view line) {
  auto object = ParseObject(line);
  if (!object) return {};
  auto task = ParseCommon(*object);
  auto id = Text(*object, "FileId");
  auto url = Text(*object, "Url");
  if (!task || !id || id->empty() || !url) return {};
  task->id = *id;
  task->url = *url;
  // Lines written before partial files were used have none. A partial file is always the
  // target's name with ".part": a line naming another file would have the task write to it.
  if (object->isMember("PartFile")) {
    auto part = Text(*object, "PartFile");
    if (!part || *part != task->filePath + kPartSuffix) return {};
    task->partPath = *part;
  }
  return task;
}

std::optional<TaskFields> ParseUploadLine(std::string_view line) {
  auto object = ParseObject(line);
  if (!object) return {};
  auto task = ParseCommon(*object);
  auto id = Text(*object, "UpId");
  auto parent = Text(*object, "PId");
  if (!task || !id || id->empty() || !parent) return {};
  task->id = *id;
  task->parentId = *parent;
  if (task->size == task->fullSize) task->status = kTaskCompleted;
  // Lines written before the target copy was recorded have neither member.
  if (object->isMember("RemoteSize") || object->isMember("RemoteTime")) {
    auto remoteSize = Decimal(*object, "RemoteSize", INT64_MAX);
    auto remoteTime = Decimal(*object, "RemoteTime", INT64_MAX);
    if (!remoteSize || !remoteTime) return {};
    task->remoteSize = *remoteSize;
    task->remoteTime = *remoteTime;
  }
  // A failed upload stays failed, also when all its bytes had been written: the service may
  // have kept none of them.
  if (object->isMember("Failure")) {
    auto failure = Integer(*object, "Failure");
    if (!failure || *failure < kFailureNone || *failure >= kFailureLimit) return {};
    task->failure = *failure;
    if (*failure != kFailureNone) task->status = kTaskFailed;
  }
  return task;
}

}  // namespace tasklines
