// The maintenance thread: housekeeping every 3 s (closed files, tether check), pruning of the
// disk caches, and a tree read every 10 minutes or when a refresh was requested.
#pragma once

#include <atomic>
#include <thread>

class MirrorConfig;
class MirrorReadPath;
class MirrorTreeReads;
struct DriveProcess;
struct MirrorOptions;
struct StorageProcess;

class MirrorMaintenance {
 public:
  MirrorMaintenance(DriveProcess& drive, StorageProcess& shared, const MirrorOptions& options,
                    const std::atomic<MirrorConfig*>& config, MirrorReadPath& read,
                    MirrorTreeReads& treeReads);
  MirrorMaintenance(const MirrorMaintenance&) = delete;
  MirrorMaintenance& operator=(const MirrorMaintenance&) = delete;
  ~MirrorMaintenance();

  void start();
  // Waits for the thread, which ends once the run state is no longer running.
  void join();

 private:
  void loop();
  void releaseClosedFiles();
  void pruneDiskCaches();
  void checkTether();

  DriveProcess& drive_;
  StorageProcess& shared_;
  const MirrorOptions& options_;
  const std::atomic<MirrorConfig*>& config_;
  MirrorReadPath& read_;
  MirrorTreeReads& treeReads_;
  std::thread thread_;
};
