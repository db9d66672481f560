#include "desktop/control/DrivePipeClient.h"

#include <cstdlib>

#include "platform/codepage/CodePage.h"
#include "platform/driveprotocol/DriveProtocol.h"
#include "platform/pipe/PipeClient.h"
#include "platform/pipe/PipePath.h"

namespace {

using pipe_result::kRequestTooLong;
using pipe_result::kTransferFailed;

std::string ToLocal(const std::string& utf8) {
  return codepage::WideToAnsi(codepage::Utf8ToWide(utf8));
}

std::string FromLocal(std::string_view local) {
  return codepage::WideToUtf8(codepage::AnsiToWide(local));
}

bool Fits(const std::string& text) { return text.size() <= kPipeTextSize; }
bool Fits(const std::string& first, const std::string& second) {
  return first.size() + 1 + second.size() <= kPipeTextSize;
}

// A reply that is not a number reads as 0.
int NumberOf(std::string_view text) { return std::atoi(std::string(text).c_str()); }

}  // namespace

DrivePipeClient::DrivePipeClient() : DrivePipeClient(named_pipe::PipePath()) {}

DrivePipeClient::DrivePipeClient(std::string path, std::chrono::milliseconds replyLimit)
    : path_(std::move(path)), replyLimit_(replyLimit) {}

DrivePipeClient::~DrivePipeClient() { closePipe(); }

void DrivePipeClient::setRefusalNote(RefusalNote note) {
  MutexLock hold(lock_);
  refusalNote_ = std::move(note);
}

int DrivePipeClient::openLocked() {
  if (handle_ >= 0) return 0;
  std::string refusal;
  handle_ = named_pipe::OpenPipe(path_, &refusal);
  // The watcher opens the pipe every second: each reason is noted once, not every time.
  if (!refusal.empty() && refusal != lastRefusal_ && refusalNote_) refusalNote_(refusal);
  lastRefusal_ = refusal;
  return handle_ >= 0 ? 0 : kUnreachable;
}

void DrivePipeClient::closeLocked() {
  named_pipe::ClosePipe(handle_);
  handle_ = -1;
}

int DrivePipeClient::openPipe() {
  MutexLock hold(lock_);
  return openLocked();
}

bool DrivePipeClient::connected() {
  MutexLock hold(lock_);
  return handle_ >= 0;
}

int DrivePipeClient::serverProcess() {
  MutexLock hold(lock_);
  if (handle_ >= 0 && named_pipe::ConnectionSpent(handle_)) closeLocked();
  if (openLocked() != 0) return -1;
  return named_pipe::ServerProcessOf(handle_);
}

int DrivePipeClient::closePipe() {
  MutexLock hold(lock_);
  closeLocked();
  return 0;
}

int32_t DrivePipeClient::transfer(PipeMessage& message, bool awaitReply) {
  MutexLock hold(lock_);
  // The drive program drops a client that stays silent for a few seconds; such a handle is
  // replaced before anything is sent on it.
  if (handle_ >= 0 && named_pipe::ConnectionSpent(handle_)) closeLocked();
  openLocked();
  if (handle_ < 0) return kTransferFailed;
  if (!named_pipe::WritePipe(handle_, &message, sizeof(message), replyLimit_) ||
      (awaitReply && !named_pipe::ReadPipe(handle_, &message, sizeof(message), replyLimit_))) {
    closeLocked();
    return kTransferFailed;
  }
  return message.length;
}

int DrivePipeClient::numberReply(PipeMessage& request) {
  if (transfer(request, true) == kTransferFailed) return kBroken;
  return NumberOf(request.firstPart());
}

std::string DrivePipeClient::textReply(PipeMessage& request) {
  if (transfer(request, true) == kTransferFailed) return {};
  return FromLocal(request.firstPart());
}

int DrivePipeClient::twoPartReply(PipeMessage& request, std::string* second) {
  second->clear();
  if (transfer(request, true) == kTransferFailed) return kBroken;
  int result = NumberOf(request.firstPart());
  if (result == 0) *second = FromLocal(request.secondPart());
  return result;
}

int DrivePipeClient::requestRefresh() {
  PipeMessage request = MakeRequest(pipe_command::kRefresh);
  return transfer(request, false) == kTransferFailed ? kBroken : 0;
}

std::string DrivePipeClient::runDriveLetter() {
  PipeMessage request = MakeRequest(pipe_command::kRunDriveLetter);
  return textReply(request);
}

int DrivePipeClient::driveState() {
  PipeMessage request = MakeRequest(pipe_command::kDriveState);
  return numberReply(request);
}

std::string DrivePipeClient::localPathOfKey(const std::string& key) {
  if (!Fits(key)) return {};
  PipeMessage request = MakeRequest(pipe_command::kDrivePath, key);
  return textReply(request);
}

int DrivePipeClient::childCount(const std::string& path) {
  if (!Fits(ToLocal(path))) return kRequestTooLong;
  PipeMessage request = MakeRequest(pipe_command::kChildCount, ToLocal(path));
  return numberReply(request);
}

int DrivePipeClient::makeFolders(const std::string& parentKey, const std::string& path,
                                 std::string* newKey) {
  newKey->clear();
  if (!Fits(parentKey, ToLocal(path))) return kRequestTooLong;
  PipeMessage request = MakeTwoPartRequest(pipe_command::kMakeFolders, parentKey, ToLocal(path));
  return twoPartReply(request, newKey);
}

int DrivePipeClient::deleteByKey(const std::string& key, std::string* path) {
  path->clear();
  if (!Fits(key)) return kRequestTooLong;
  PipeMessage request = MakeRequest(pipe_command::kDeleteByKey, key);
  return twoPartReply(request, path);
}

int DrivePipeClient::rename(const std::string& key, const std::string& newName) {
  if (!Fits(key, ToLocal(newName))) return kRequestTooLong;
  PipeMessage request = MakeTwoPartRequest(pipe_command::kRename, key, ToLocal(newName));
  return numberReply(request);
}

int DrivePipeClient::deleteAtPath(const std::string& path) {
  if (!Fits(ToLocal(path))) return kRequestTooLong;
  PipeMessage request = MakeRequest(pipe_command::kDeleteAtPath, ToLocal(path));
  return numberReply(request);
}

int DrivePipeClient::stopDrive() {
  PipeMessage request = MakeRequest(pipe_command::kStopDrive);
  return transfer(request, false) == kTransferFailed ? kBroken : 0;
}
