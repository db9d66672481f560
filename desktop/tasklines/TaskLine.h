// Lines of the task list files ".tasklist" (downloads) and ".tasklist.u" (uploads): one
// compact JSON object per line, members in ascending key order, numbers that may exceed 32
// bits written as decimal strings, no line breaks inside, "\r\n" after each.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "desktop/tasklines/TaskFields.h"

namespace tasklines {

// The partial file of a download is its target's path followed by this.
inline constexpr const char* kPartSuffix = ".part";

// The line for a task, "\r\n" included. Status is stored as 2 for a completed task, else 0.
std::string DownloadLine(const TaskFields& task);
std::string UploadLine(const TaskFields& task);

// The task a line describes, or nothing when the line is not a JSON object or fails a check:
// Status below 11, times, Size and FullSize decimal and not negative, FullSize not below
// Size, Time not negative. A trailing "\r" is ignored. Loaded tasks hold no wish and no
// speed; their Status is 2 when stored as completed, else 0 (an upload whose Size reached
// FullSize counts as completed, unless it holds a failure: such a task loads as failed). The
// members added later ("PartFile" of a download, "RemoteSize", "RemoteTime" and "Failure" of
// an upload) may be missing; present, they are checked too.
std::optional<TaskFields> ParseDownloadLine(std::string_view line);
std::optional<TaskFields> ParseUploadLine(std::string_view line);

}  // namespace tasklines
