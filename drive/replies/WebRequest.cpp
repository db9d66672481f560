#include "drive/replies/WebRequest.h"

#include <ctime>

#include "drive/replies/TextDigest.h"

namespace {

bool IsLinkAction(std::u16string_view action) {
  return action == web_action::kReadLink || action == web_action::kWriteLink;
}

}  // namespace

std::u16string RequestTimestamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  size_t length = std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
  return std::u16string(text, text + length);
}

FormedRequest FormRequest(std::u16string_view action, const std::vector<WebParam>& params,
                          const WebSession& session, std::u16string_view timestamp) {
  FormedRequest request;
  request.hashInput.append(action);
  for (const WebParam& param : params) request.hashInput += param.value;
  request.hashInput += session.id;
  request.hashInput += session.key;
  request.hash = text_digest::Md5Text(request.hashInput);

  request.path = IsLinkAction(action) ? u"quellan?action=" : u"/quellan?action=";
  request.path.append(action);
  for (const WebParam& param : params) {
    request.path += u"&" + param.name + u"=" + param.value;
  }
  request.path += u"&sessionid=" + session.id + u"&hash=" + request.hash + u"&t=";
  request.path.append(timestamp);
  return request;
}

FormedRequest FormFirstKeyRequest(std::u16string_view timestamp) {
  FormedRequest request;
  request.path = u"/quellan?action=firstkey&t=";
  request.path.append(timestamp);
  return request;
}

FormedRequest FormLoginRequest(std::u16string_view userName, std::u16string_view password,
                               const WebSession& provisional, std::u16string_view timestamp) {
  std::u16string passwordProof(password);
  passwordProof += provisional.key;
  std::vector<WebParam> params{{u"username", text_digest::Base64OfAnsi(userName)},
                               {u"password", text_digest::Md5Text(passwordProof)}};
  return FormRequest(web_action::kLogin, params, provisional, timestamp);
}
