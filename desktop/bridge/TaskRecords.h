// Download and upload tasks as the page lists them, and the messages of the task operations'
// failures.
#pragma once

#include <json/json.h>

#include <QString>
#include <map>
#include <optional>
#include <string>

#include "desktop/tasklines/TaskFields.h"

namespace bridge {

// The page's task record; `upload` chooses the state names of uploads.
Json::Value TaskRecord(const TaskFields& task, bool upload);
// The records of `tasks` in ascending order of task id, without the tasks being deleted.
Json::Value TaskRecords(const std::map<std::string, TaskFields>& tasks, bool upload);

// The task operations whose manager codes the page sees as messages.
enum class TaskOperation {
  AddDownload,
  AddUpload,
  PauseDownload,
  PauseUpload,
  StartDownload,
  StartUpload,
  DeleteDownload,
  DeleteUpload,
};

// The page's message for a manager code; no value for success and for codes without one.
// `filePath` fills the message of a missing upload source.
std::optional<QString> TaskFailureMessage(TaskOperation operation, int code,
                                          const QString& filePath = QString());

}  // namespace bridge
