#include "tests/support/FakeWebService.h"

#include "tests/support/LoopbackClients.h"

FakeWebService::FakeWebService()
    : server_([this](const std::string& target) { return answer(target); }) {}

void FakeWebService::set(const std::string& action, const std::string& reply) {
  MutexLock guard(lock_);
  replies_[action] = reply;
}

int FakeWebService::count(const std::string& action) const {
  int n = 0;
  for (const std::string& target : targets()) {
    if (target.find("action=" + action + "&") != std::string::npos) ++n;
  }
  return n;
}

std::string FakeWebService::ListReply(const std::string& header, const std::string& lines) {
  return "ok," + header + "," + testclients::Base64(lines);
}

std::string FakeWebService::answer(const std::string& target) {
  size_t at = target.find("action=");
  if (at == std::string::npos) return ScriptedHttpServer::Reply("err,unknown");
  size_t end = target.find('&', at);
  std::string action = target.substr(at + 7, end == std::string::npos ? end : end - at - 7);
  MutexLock guard(lock_);
  auto reply = replies_.find(action);
  if (reply == replies_.end()) return ScriptedHttpServer::Reply("err,unknown");
  if (reply->second == "<close>") return std::string();
  if (reply->second.rfind("<raw>", 0) == 0) return reply->second.substr(5);
  return ScriptedHttpServer::Reply(reply->second);
}
