#include <gtest/gtest.h>

#include "drive/core/DriveLetterSearch.h"

TEST(DriveLetterSearch, SkipsTakenLettersAndWrapsAfterZ) {
  WCHAR letter = u'M';
  EXPECT_TRUE(FindFreeDriveLetter(u"C:\\M:\\", letter));
  EXPECT_EQ(letter, u'N');

  letter = u'M';
  EXPECT_TRUE(FindFreeDriveLetter(u"C:\\M:\\N:\\O:\\", letter));
  EXPECT_EQ(letter, u'P');

  letter = u'Z';
  EXPECT_TRUE(FindFreeDriveLetter(u"Y:\\Z:\\A:\\", letter));
  EXPECT_EQ(letter, u'B');

  letter = u'D';
  EXPECT_TRUE(FindFreeDriveLetter(u"C:\\", letter));
  EXPECT_EQ(letter, u'D');
}

TEST(DriveLetterSearch, LowerCaseAndOtherCharactersAreNeverFoundTaken) {
  WCHAR letter = u'm';
  EXPECT_TRUE(FindFreeDriveLetter(u"C:\\M:\\", letter));
  EXPECT_EQ(letter, u'm');
  letter = u'\0';
  EXPECT_TRUE(FindFreeDriveLetter(u"C:\\", letter));
  EXPECT_EQ(letter, u'\0');
}

TEST(DriveLetterSearch, GivesUpWhenAllLettersAreTaken) {
  std::u16string all;
  for (char16_t c = u'A'; c <= u'Z'; ++c) all += std::u16string{c, u':', u'\\'};
  WCHAR letter = u'Q';
  EXPECT_FALSE(FindFreeDriveLetter(all, letter));
  EXPECT_EQ(letter, u'Q');
}
