// Login: "firstkey" hands out a provisional session, "login" proves the password against it
// and hands out the session that signs every later request. A successful login reads the
// folder tree before it returns.
#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/replies/ReplyText.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/ReplyReading.h"

int QLVMirror::DoLogin() {
  MirrorConfig* config = config_.load();
  std::u16string userName = config ? config->userName() : std::u16string();
  std::u16string password = config ? config->passWord() : std::u16string();
  MirrorLog& log = drive_.log();
  if (userName.empty()) {
    log.log(u"QLVMirror:login:-1 UserName is Null !", kLogResults);
    return -1;
  }
  if (password.empty()) {
    log.log(u"QLVMirror:login:-1 PassWord is Null !", kLogResults);
    return -1;
  }

  {
    MutexLock guard(webLock_);
    WebSession session;
    if (sendOnMirrorClient(FormFirstKeyRequest(RequestTimestamp())) != WebClient::kOk) {
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
    if (sendOnMirrorClient(login) != WebClient::kOk) {
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
  }

  log.log(u"QLVMirror:login:OK ", kLogProgress);
  readDirTree();
  return 0;
}
