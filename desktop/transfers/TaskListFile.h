// Reading and writing a task list file (".tasklist", ".tasklist.u"): one line per task, made
// and read by the given line functions.
#pragma once

#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "desktop/transfers/TaskRecord.h"

namespace tasklistfile {

using Tasks = std::map<std::string, std::unique_ptr<TaskRecord>>;
using LineOf = std::function<std::string(const TaskFields&)>;
using ParseLine = std::function<std::optional<TaskFields>(std::string_view)>;
using Keep = std::function<bool(const TaskRecord&)>;

// Writes the line of every task that `keep` accepts (all without it); the file is replaced
// whole, so a failed write leaves the previous list.
void Save(const QString& path, const Tasks& tasks, const LineOf& lineOf, const Keep& keep = {});
// Enters a task for every line that `parse` accepts; a later line of the same id wins.
void Load(const QString& path, Tasks& tasks, const ParseLine& parse);

}  // namespace tasklistfile
