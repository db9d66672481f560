#include "platform/dokan/Dokan.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/dokan/DriveNames.h"
#include "platform/dokan/FuseOperations.h"
#include "platform/driveroot/DriveRoot.h"
#include "platform/process/Process.h"
#include "platform/sync/Mutex.h"

namespace {

constexpr uint16_t kDefaultThreadCount = 10;
constexpr uint16_t kMostThreads = 64;

Mutex registryLock;

// One drive this process has mounted or is mounting.
struct ActiveMount {
  std::string mountPoint;
  fuse_session* session GUARDED_BY(registryLock) = nullptr;  // set once mounted
  dokan::DriveSession* drive = nullptr;
  // DokanUnmount came before the mount was complete.
  bool unmountRequested GUARDED_BY(registryLock) = false;
  // Taken out of the file-system tree by DokanUnmount.
  bool detached GUARDED_BY(registryLock) = false;
};

std::map<WCHAR, ActiveMount*> registry GUARDED_BY(registryLock);

bool MakeFolder(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

// Ends the FUSE connection of a drive that is still busy after a lazy unmount, so that the
// loop returns instead of waiting for the last open file; needs the fusectl file system.
void AbortConnection(unsigned minor) {
  std::string path = "/sys/fs/fuse/connections/" + std::to_string(minor) + "/abort";
  if (FILE* abort = std::fopen(path.c_str(), "w")) {
    std::fputs("1", abort);
    std::fclose(abort);
  }
}

// The unmount helper gets this long; a helper that hangs must not hold the caller for ever.
constexpr int kHelperLimitMs = 5000;

// Takes the drive out of the file-system tree; the kernel then ends the FUSE connection and
// the loop returns. Returns true when this process may not unmount and the setuid helper
// must do it: the caller runs UnmountWithHelper after giving up the registry lock.
bool Detach(ActiveMount& mount) REQUIRES(registryLock) {
  if (mount.detached) return false;
  mount.detached = true;
  fuse_session_exit(mount.session);
  const char* path = mount.mountPoint.c_str();
  if (::umount2(path, 0) == 0) return false;
  if (errno == EBUSY) {
    std::vector<driveroot::MountEntry> mounts = driveroot::CurrentMounts();
    const driveroot::MountEntry* entry = driveroot::FindMount(mounts, mount.mountPoint);
    unsigned minor = entry != nullptr ? entry->minor : 0;
    if (::umount2(path, MNT_DETACH) == 0) {
      if (entry != nullptr && entry->fsType.rfind("fuse", 0) == 0) AbortConnection(minor);
      return false;
    }
  }
  return true;
}

void UnmountWithHelper(const std::string& mountPoint) EXCLUDES(registryLock) {
  process::RunAndWait({"fusermount3", "-u", "-z", "--", mountPoint}, true, kHelperLimitMs);
}

uint16_t ThreadsFor(const DOKAN_OPTIONS& options) {
  if (options.ThreadCount == 0) return kDefaultThreadCount;
  return options.ThreadCount > kMostThreads ? kMostThreads : options.ThreadCount;
}

// Registers the drive for DokanUnmount while it lives; false when this process already
// serves the letter.
class Registration {
 public:
  Registration(WCHAR letter, ActiveMount& mount) : letter_(letter) {
    MutexLock guard(registryLock);
    registered_ = registry.emplace(letter, &mount).second;
  }
  ~Registration() {
    if (!registered_) return;
    MutexLock guard(registryLock);
    registry.erase(letter_);
  }
  bool registered() const { return registered_; }

 private:
  WCHAR letter_;
  bool registered_ = false;
};

int Serve(fuse_session* session, const DOKAN_OPTIONS& options) {
  fuse_loop_config* config = fuse_loop_cfg_create();
  if (config == nullptr) return -1;
  unsigned threads = ThreadsFor(options);
  fuse_loop_cfg_set_max_threads(config, threads);
  fuse_loop_cfg_set_idle_threads(config, threads);
  int result = fuse_session_loop_mt(session, config);
  fuse_loop_cfg_destroy(config);
  return result;
}

}  // namespace

int DokanMain(PDOKAN_OPTIONS options, PDOKAN_OPERATIONS operations) {
  if (options == nullptr || operations == nullptr) return DOKAN_ERROR;
  WCHAR letter = options->DriveLetter;
  if (!driveroot::IsDriveLetter(letter)) return DOKAN_DRIVE_LETTER_ERROR;
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return DOKAN_DRIVER_INSTALL_ERROR;

  std::string root = driveroot::DriveRoot();
  std::string mountPoint = driveroot::MountPointOf(letter);
  if (!MakeFolder(root) || !MakeFolder(mountPoint)) return DOKAN_MOUNT_ERROR;
  std::string canonical = driveroot::CanonicalDriveRoot() + "/" + static_cast<char>(letter);
  if (driveroot::FindMount(driveroot::CurrentMounts(), canonical) != nullptr)
    return DOKAN_MOUNT_ERROR;

  dokan::DriveSession drive;
  drive.options = options;
  drive.operations = operations;
  drive.owner = ::getuid();
  drive.group = ::getgid();
  ActiveMount active;
  active.mountPoint = canonical;
  active.drive = &drive;
  Registration registration(letter, active);
  if (!registration.registered()) return DOKAN_MOUNT_ERROR;

  fuse_lowlevel_ops fuseOps = dokan::MakeFuseOperations();
  std::string fsName = std::string("fsname=quellan-") + static_cast<char>(letter);
  std::string maxRead = "max_read=" + std::to_string(dokan::kMaxFuseRead);
  const char* argv[] = {"quellan",      "-o", maxRead.c_str(),  "-o",
                        fsName.c_str(), "-o", "subtype=quellan"};
  fuse_args args =
      FUSE_ARGS_INIT(static_cast<int>(sizeof argv / sizeof argv[0]), const_cast<char**>(argv));
  fuse_session* session = fuse_session_new(&args, &fuseOps, sizeof fuseOps, &drive);
  fuse_opt_free_args(&args);
  if (session == nullptr) return DOKAN_ERROR;
  bool needsHelper = false;
  {
    // Mount under the registry lock, so that a DokanUnmount that sees the drive mounted
    // always finds its session (a process ending right after mounting must not leave the
    // mount behind).
    MutexLock guard(registryLock);
    if (fuse_session_mount(session, canonical.c_str()) != 0) {
      fuse_session_destroy(session);
      return DOKAN_MOUNT_ERROR;
    }
    active.session = session;
    if (active.unmountRequested) needsHelper = Detach(active);
  }
  if (needsHelper) UnmountWithHelper(canonical);

  int loop = Serve(session, *options);
  drive.finish();

  bool detached;
  {
    MutexLock guard(registryLock);
    detached = active.detached;
    active.session = nullptr;
  }
  // After DokanUnmount the connection has ended and this only releases the session's
  // records; after an unmount from outside it finds the drive gone as well.
  fuse_session_unmount(session);
  fuse_session_destroy(session);
  return (loop == 0 || detached) ? DOKAN_SUCCESS : DOKAN_ERROR;
}

BOOL DokanUnmount(WCHAR letter) {
  std::string helperPoint;
  {
    MutexLock guard(registryLock);
    auto found = registry.find(letter);
    if (found == registry.end()) return 0;
    ActiveMount& mount = *found->second;
    mount.unmountRequested = true;
    if (mount.session != nullptr && Detach(mount)) helperPoint = mount.mountPoint;
  }
  if (!helperPoint.empty()) UnmountWithHelper(helperPoint);
  return 1;
}

BOOL DokanNotifyChanged(WCHAR letter, LPCWSTR path) {
  if (path == nullptr || path[0] != u'\\') return 0;
  std::string fusePath;
  if (!dokan::Utf16ToUtf8(std::u16string_view(path), fusePath)) return 0;
  for (char& c : fusePath) {
    if (c == '\\') c = '/';
  }
  MutexLock guard(registryLock);
  auto found = registry.find(letter);
  if (found == registry.end() || found->second->session == nullptr || found->second->detached)
    return 0;
  // Only an entry the kernel has met can be in its cache.
  const dokan::InodeTable& inodes = found->second->drive->inodes;
  uint64_t ino = inodes.find(fusePath);
  if (ino == 0) return 1;
  // The name too: a name the drive dropped would otherwise keep leading the kernel to the old
  // number, and a new file of that name could not be made, until the cache time ends.
  size_t slash = fusePath.rfind('/');
  uint64_t parent = inodes.find(std::string_view(fusePath).substr(0, slash));
  std::string_view name = std::string_view(fusePath).substr(slash + 1);
  if (parent != 0 && !name.empty())
    fuse_lowlevel_notify_inval_entry(found->second->session, parent, name.data(), name.size());
  fuse_lowlevel_notify_inval_inode(found->second->session, ino, 0, 0);
  return 1;
}
