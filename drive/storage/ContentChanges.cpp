#include "drive/storage/ContentChanges.h"

#include <optional>

#include "drive/storage/StorageProcess.h"
#include "drive/stream/HeadCache.h"
#include "platform/codepage/CodePage.h"

void ForgetContent(StorageProcess& shared, const std::string& programFolder,
                   const std::vector<std::u16string>& ids) {
  for (const std::u16string& id : ids) {
    std::optional<StreamLink> link = shared.readLinks.drop(id);
    if (link)
      headcache::Remove(shared.stream.log, programFolder, codepage::WideToAnsi(link->token2));
  }
}
