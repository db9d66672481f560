// The mirror's own web client: one request at a time, serialised by webLock_.
#include "drive/core/MirrorConfig.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/ReplyReading.h"
#include "drive/storage/StorageProcess.h"

int QLVMirror::sendOnMirrorClient(const FormedRequest& request) {
  MirrorConfig* config = config_.load();
  if (!config) return WebClient::kNoConnection;
  web_.setAbortCheck([this] { return !shared_.running(); });
  int opened = web_.open(config->ServerAddress, options_.webPort, request.path, u"GET");
  if (opened != WebClient::kOk) return opened;
  return web_.send();
}

StreamedReply QLVMirror::readStreamedReply() {
  return ReadStreamed(web_, [this] { return shared_.running(); });
}

StreamedReply::Status QLVMirror::readStreamedReplyInto(
    const std::function<void(std::string_view)>& consume) {
  return ReadStreamedInto(
      web_, [this] { return shared_.running(); }, consume);
}
