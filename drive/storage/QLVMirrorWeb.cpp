// The mirror's own web client: one request at a time, serialised by webLock_.
#include "drive/core/MirrorConfig.h"
#include "drive/storage/MirrorRunState.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/ReplyReading.h"

int QLVMirror::sendOnMirrorClient(const FormedRequest& request) {
  MirrorConfig* config = config_.load();
  if (!config) return WebClient::kNoConnection;
  web_.setAbortCheck([] { return !MirrorRunning(); });
  int opened = web_.open(config->ServerAddress, options_.webPort, request.path, u"GET");
  if (opened != WebClient::kOk) return opened;
  return web_.send();
}

StreamedReply QLVMirror::readStreamedReply() { return ReadStreamed(web_, &MirrorRunning); }

StreamedReply::Status QLVMirror::readStreamedReplyInto(
    const std::function<void(std::string_view)>& consume) {
  return ReadStreamedInto(web_, &MirrorRunning, consume);
}
