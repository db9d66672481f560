#include "desktop/transfers/TaskListFile.h"

#include <QFile>
#include <QSaveFile>

namespace tasklistfile {

void Save(const QString& path, const Tasks& tasks, const LineOf& lineOf, const Keep& keep) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  // Set on the new content before anything is written to it; the list is the user's alone.
  file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  for (const auto& [id, task] : tasks) {
    if (keep && !keep(*task)) continue;
    std::string line = lineOf(task->fields());
    file.write(line.data(), static_cast<qint64>(line.size()));
  }
  file.commit();
}

void Load(const QString& path, Tasks& tasks, const ParseLine& parse) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  while (!file.atEnd()) {
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
    std::optional<TaskFields> fields =
        parse(std::string_view(line.constData(), static_cast<size_t>(line.size())));
    if (!fields) continue;
    auto task = std::make_unique<TaskRecord>();
    task->assign(*fields);
    tasks[fields->id] = std::move(task);
  }
}

}  // namespace tasklistfile
