#include <gtest/gtest.h>

#include "drive/replies/ReplyText.h"
#include "drive/replies/TextDigest.h"
#include "drive/replies/WebRequest.h"

namespace {

const WebSession kSession{u"S1D", u"K3Y"};
const std::u16string kTime = u"20261208063000";

struct ActionCase {
  const char16_t* action;
  std::vector<WebParam> params;
  const char16_t* expectedPath;  // before "&sessionid="
  const char16_t* expectedHashInput;
};

}  // namespace

TEST(WebRequest, EveryActionHasItsPathAndHashInput) {
  const std::vector<ActionCase> cases = {
      {u"list3", {}, u"/quellan?action=list3", u"list3S1DK3Y"},
      {u"delete", {{u"id", u"17"}}, u"/quellan?action=delete&id=17", u"delete17S1DK3Y"},
      {u"rmdir", {{u"id", u"18"}}, u"/quellan?action=rmdir&id=18", u"rmdir18S1DK3Y"},
      {u"rename",
       {{u"id", u"5"}, {u"name", u"YQ=="}},
       u"/quellan?action=rename&id=5&name=YQ==",
       u"rename5YQ==S1DK3Y"},
      {u"move",
       {{u"id", u"5"}, {u"pid", u"9"}},
       u"/quellan?action=move&id=5&pid=9",
       u"move59S1DK3Y"},
      {u"mkdir",
       {{u"pid", u"9"}, {u"name", u"Yg=="}},
       u"/quellan?action=mkdir&pid=9&name=Yg==",
       u"mkdir9Yg==S1DK3Y"},
      {u"file_info", {{u"id", u"44"}}, u"/quellan?action=file_info&id=44", u"file_info44S1DK3Y"},
      {u"readdist", {{u"id", u"44"}}, u"quellan?action=readdist&id=44", u"readdist44S1DK3Y"},
      {u"writedist",
       {{u"filename", u"eC50eHQ="}, {u"pid", u"9"}},
       u"quellan?action=writedist&filename=eC50eHQ=&pid=9",
       u"writedisteC50eHQ=9S1DK3Y"},
  };
  for (const ActionCase& c : cases) {
    SCOPED_TRACE(std::string(c.expectedPath,
                             c.expectedPath + std::char_traits<char16_t>::length(c.expectedPath)));
    FormedRequest request = FormRequest(c.action, c.params, kSession, kTime);
    EXPECT_EQ(request.hashInput, c.expectedHashInput);
    EXPECT_EQ(request.hash, text_digest::Md5Text(c.expectedHashInput));
    EXPECT_EQ(request.hash.size(), 32u);
    std::u16string expected =
        std::u16string(c.expectedPath) + u"&sessionid=S1D&hash=" + request.hash + u"&t=" + kTime;
    EXPECT_EQ(request.path, expected);
  }
}

TEST(WebRequest, TimestampNeverEntersTheHash) {
  FormedRequest first = FormRequest(web_action::kList, {}, kSession, u"20261208063000");
  FormedRequest second = FormRequest(web_action::kList, {}, kSession, u"20261208063001");
  EXPECT_EQ(first.hash, second.hash);
  EXPECT_NE(first.path, second.path);
  std::u16string stamp = RequestTimestamp();
  ASSERT_EQ(stamp.size(), 14u);
  EXPECT_EQ(stamp.find_first_not_of(u"0123456789"), std::u16string::npos);
}

TEST(WebRequest, FirstKeyCarriesOnlyTheTimestamp) {
  EXPECT_EQ(FormFirstKeyRequest(kTime).path, u"/quellan?action=firstkey&t=" + kTime);
}

TEST(WebRequest, LoginSendsBase64NameAndPasswordProofUnchanged) {
  // "??>" and "???" encode to "Pz8+" and "Pz8/"; "a" to "YQ==": all sent as they are.
  for (const char16_t* user : {u"?\?>", u"???", u"a"}) {
    FormedRequest login = FormLoginRequest(user, u"storedDigest", kSession, kTime);
    std::u16string name = text_digest::Base64OfAnsi(user);
    std::u16string proof = text_digest::Md5Text(u"storedDigestK3Y");
    EXPECT_EQ(login.hashInput, u"login" + name + proof + u"S1DK3Y");
    EXPECT_EQ(login.path, u"/quellan?action=login&username=" + name + u"&password=" + proof +
                              u"&sessionid=S1D&hash=" + login.hash + u"&t=" + kTime);
  }
  EXPECT_NE(FormLoginRequest(u"???", u"p", kSession, kTime).path.find(u"username=Pz8/&"),
            std::u16string::npos);
}

TEST(ReplyText, MarkersAndSessionSplit) {
  EXPECT_TRUE(StartsWithListMarker(u"ok,1,2"));
  EXPECT_FALSE(StartsWithListMarker(u"ok"));
  EXPECT_FALSE(StartsWithListMarker(u"err,ok,"));
  EXPECT_TRUE(StartsWithOk(u"ok"));
  EXPECT_FALSE(StartsWithOk(u"o"));
  EXPECT_EQ(RemoveListMarkers(u"ok,a,ok,b"), u"a,b");

  WebSession session{u"old", u"old"};
  EXPECT_FALSE(SplitSessionReply(RemoveListMarkers(u"ok,"), &session));
  EXPECT_EQ(session.id, u"old");

  ASSERT_TRUE(SplitSessionReply(u"AAAA,BBBB", &session));
  EXPECT_EQ(session.id, u"AAAA");
  EXPECT_EQ(session.key, u"BBBB");
  // The key is the last n characters of the whole text, n the position of the first comma.
  ASSERT_TRUE(SplitSessionReply(u"AA,BBBB", &session));
  EXPECT_EQ(session.key, u"BB");
  ASSERT_TRUE(SplitSessionReply(u"AAAA,BB", &session));
  EXPECT_EQ(session.key, u"A,BB");
  ASSERT_TRUE(SplitSessionReply(u"AAA,B,CC", &session));
  EXPECT_EQ(session.id, u"AAA");
  EXPECT_EQ(session.key, u",CC");
}
