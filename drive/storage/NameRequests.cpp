#include "drive/storage/NameRequests.h"

#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"
#include "drive/replies/ReplyText.h"
#include "drive/replies/TextDigest.h"

int NameRequests::send(std::u16string_view action, const std::vector<WebParam>& params,
                       std::u16string* replyText) {
  MirrorLog& log = drive_.log();
  std::u16string tag = u"QLVMirror:" + std::u16string(action);
  StreamedReply reply;
  {
    MutexLock guard(web_.lock());
    FormedRequest request = FormRequest(action, params, web_.session(), RequestTimestamp());
    if (web_.send(request) != WebClient::kOk) {
      log.log(tag + u":-1", kLogResults);
      return mirror_error::kGeneral;
    }
    reply = web_.readStreamedReply();
  }
  if (reply.status == StreamedReply::Status::kStopped) return mirror_error::kGeneral;
  std::u16string text = reply.text();
  if (reply.status == StreamedReply::Status::kFailed || !StartsWithOk(text)) {
    log.log(tag + u":-2 " + text, kLogResults);
    return mirror_error::kGeneral;
  }
  if (replyText) *replyText = std::move(text);
  return 0;
}

// "move" carries only the new parent; when the name changes too, "rename" follows, so that
// the service keeps the name the drive shows.
ServicePlace NameRequests::place(const std::u16string& id, const ServicePlace& from,
                                 const ServicePlace& to) {
  ServicePlace held = from;
  if (to.parentId != from.parentId) {
    if (send(web_action::kMove, {{u"id", id}, {u"pid", to.parentId}}) != 0) return held;
    held.parentId = to.parentId;
  }
  if (to.name != from.name &&
      send(web_action::kRename, {{u"id", id}, {u"name", text_digest::Base64OfUtf8(to.name)}}) == 0)
    held.name = to.name;
  return held;
}
