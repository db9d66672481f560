// The numbers the drive program and the desktop program agree on: the commands of the
// control pipe, the drive program's states, the status codes the desktop program derives
// from them, and the result codes carried in the pipe's replies and the page's answers.
// Both programs and their tests take them from here, so that each number is written once.
#pragma once

#include <cstdint>

// Commands of the control pipe (the command field of a request record).
namespace pipe_command {
constexpr int32_t kRunDriveLetter = 7;
constexpr int32_t kSettingsDriveLetter = 8;
constexpr int32_t kDriveState = 9;
constexpr int32_t kSetUserName = 10;
constexpr int32_t kSetPassWord = 11;
constexpr int32_t kSetDebug = 12;
constexpr int32_t kDrivePath = 13;
constexpr int32_t kChildCount = 14;
constexpr int32_t kStartDrive = 20;
constexpr int32_t kStopDrive = 21;
constexpr int32_t kRefresh = 22;
constexpr int32_t kMakeFolders = 31;
constexpr int32_t kDeleteByKey = 32;
constexpr int32_t kEntryStream = 33;
constexpr int32_t kRename = 34;
constexpr int32_t kDeleteAtPath = 35;
constexpr int32_t kEndConnection = -100;
}  // namespace pipe_command

// Values of the drive program's DriveState, answered to command 9.
namespace drive_state {
constexpr int32_t kStarting = 1;
constexpr int32_t kMounted = 2;
constexpr int32_t kLoggingIn = 4;
constexpr int32_t kLoggedIn = 5;
constexpr int32_t kStopped = 8;
constexpr int32_t kLoginFailedOne = 10;      // login code -1
constexpr int32_t kLoginFailedConnect = 11;  // login codes -2, -3
constexpr int32_t kLoginFailedRefused = 12;  // login codes -4..-6
// A mount that failed leaves the mount's own result as the state.
constexpr int32_t kFailed = -1;
constexpr int32_t kBadDriveLetter = -2;
constexpr int32_t kDriverInstallError = -3;
constexpr int32_t kDriverStartError = -4;
constexpr int32_t kCannotMount = -5;
}  // namespace drive_state

// Results in the pipe's replies and of the desktop program's pipe operations. The drive
// program answers name operations with its mirror's results (0 or a negative system code).
namespace pipe_result {
constexpr int32_t kOk = 0;
constexpr int32_t kGeneral = -1;
constexpr int32_t kFileNotFound = -2;
constexpr int32_t kPathNotFound = -3;
constexpr int32_t kUnknownParent = -8;  // make folders: the parent key names no entry
constexpr int32_t kAlreadyExists = -183;
// The desktop program's side: the transfer over an open pipe failed (the pipe is closed).
constexpr int32_t kBroken = -9;
// The pipe could not be opened, or cannot be trusted.
constexpr int32_t kUnreachable = -1;
// A request whose texts do not fit one record: nothing was sent.
constexpr int32_t kRequestTooLong = -1;
// A send or exchange that failed, before it is turned into kBroken.
constexpr int32_t kTransferFailed = -100;
}  // namespace pipe_result

// The desktop program's drive status codes: a drive state passed through unchanged, or one
// of these, which the drive program never reports itself.
namespace drive_status {
constexpr int32_t kNotYetAsked = -100;  // before the watcher's first pass
constexpr int32_t kNoPipe = -99;        // the control pipe could not be opened
constexpr int32_t kPipeBroken = pipe_result::kBroken;
constexpr int32_t kNoConnection = 0;
constexpr int32_t kLoaded = 3;
constexpr int32_t kHasStopped = 9;
}  // namespace drive_status

// Codes of the page's answers ("returnCode") about the drive.
namespace page_result {
// The drive program answers but has no drive mounted, or the entry is unknown to it.
constexpr int32_t kDriveNotRunning = drive_status::kNoPipe;
}  // namespace page_result

// The status codes under the names the page uses for them.
struct NamedDriveStatus {
  const char* name;
  int32_t code;
};
inline constexpr NamedDriveStatus kNamedDriveStatuses[] = {
    {"NOT_YET_ASKED", drive_status::kNotYetAsked},
    {"NO_PIPE", drive_status::kNoPipe},
    {"PIPE_BROKEN", drive_status::kPipeBroken},
    {"CANNOT_MOUNT", drive_state::kCannotMount},
    {"DRIVER_START_ERROR", drive_state::kDriverStartError},
    {"DRIVER_INSTALL_ERROR", drive_state::kDriverInstallError},
    {"BAD_DRIVE_LETTER", drive_state::kBadDriveLetter},
    {"FAILED", drive_state::kFailed},
    {"NO_CONNECTION", drive_status::kNoConnection},
    {"STARTING", drive_state::kStarting},
    {"RUNNING", drive_state::kMounted},
    {"LOADED", drive_status::kLoaded},
    {"LOGGING_IN", drive_state::kLoggingIn},
    {"LOGGED_IN", drive_state::kLoggedIn},
    {"STOPPING", drive_state::kStopped},
    {"STOPPED", drive_status::kHasStopped},
    {"WRONG_PASSWORD", drive_state::kLoginFailedOne},
    {"LOGIN_CONNECT_FAILED", drive_state::kLoginFailedConnect},
    {"LOGIN_FAILED", drive_state::kLoginFailedRefused},
};
