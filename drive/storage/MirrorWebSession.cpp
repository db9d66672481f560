#include "drive/storage/MirrorWebSession.h"

#include "drive/core/MirrorConfig.h"
#include "drive/core/MirrorLog.h"
#include "drive/replies/ReplyText.h"
#include "drive/storage/MirrorOptions.h"
#include "drive/storage/StorageProcess.h"

MirrorWebSession::MirrorWebSession(StorageProcess& shared, const MirrorOptions& options,
                                   const std::atomic<MirrorConfig*>& config)
    : shared_(shared), options_(options), config_(config) {}

int MirrorWebSession::logIn(const std::u16string& userName, const std::u16string& password,
                            MirrorLog& log) {
  MutexLock guard(webLock_);
  WebSession session;
  if (send(FormFirstKeyRequest(RequestTimestamp())) != WebClient::kOk) {
    log.log(u"QLVMirror:login:-1 connect err!", kLogResults);
    return -2;
  }
  std::u16string reply = ReadSingleBuffer(web_);
  if (!StartsWithListMarker(reply)) {
    log.log(u"QLVMirror:login:-2 " + reply, kLogResults);
    return -2;
  }
  if (!SplitSessionReply(RemoveListMarkers(reply), &session)) {
    log.log(u"QLVMirror:login:-3 ", kLogResults);
    return -3;
  }

  FormedRequest login = FormLoginRequest(userName, password, session, RequestTimestamp());
  if (send(login) != WebClient::kOk) {
    log.log(u"QLVMirror:login:-4 login connect err!", kLogResults);
    return -4;
  }
  reply = ReadSingleBuffer(web_);
  if (!StartsWithListMarker(reply)) {
    log.log(u"QLVMirror:login:-5 Session:" + session.id + u" Key:" + session.key + u" " + reply,
            kLogResults);
    return -5;
  }
  if (!SplitSessionReply(RemoveListMarkers(reply), &session)) {
    log.log(u"QLVMirror:login:-6 ", kLogResults);
    return -6;
  }
  MutexLock sessionGuard(sessionLock_);
  session_ = session;
  return 0;
}

int MirrorWebSession::send(const FormedRequest& request) {
  MirrorConfig* config = config_.load();
  if (!config) return WebClient::kNoConnection;
  web_.setAbortCheck([this] { return !shared_.running(); });
  int opened = web_.open(config->ServerAddress, options_.webPort, request.path, u"GET");
  if (opened != WebClient::kOk) return opened;
  return web_.send();
}

StreamedReply MirrorWebSession::readStreamedReply() {
  return ReadStreamed(web_, [this] { return shared_.running(); });
}

StreamedReply::Status MirrorWebSession::readStreamedReplyInto(
    const std::function<void(std::string_view)>& consume) {
  return ReadStreamedInto(
      web_, [this] { return shared_.running(); }, consume);
}

WebSession MirrorWebSession::session() {
  MutexLock guard(sessionLock_);
  return session_;
}

void MirrorWebSession::close() {
  MutexLock guard(webLock_);
  web_.close();
}
