// Downloads one file of the reference service with a download task, then with curl from the
// same signed address, in the same run, and prints both rates and their ratio.
// Usage: download_task_bench [MiB, default 512] [rounds, default 3]
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "desktop/transfers/ActiveDownloads.h"
#include "desktop/transfers/DownloadFile.h"
#include "desktop/transfers/DownloadFileThread.h"
#include "tests/support/Files.h"
#include "tests/support/LoopbackClients.h"
#include "tests/support/ReferenceServer.h"
#include "tests/support/TempDir.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int mib = argc > 1 ? std::atoi(argv[1]) : 512;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  QCoreApplication app(argc, argv);
  ReferenceServer server;
  server.addUser("bench", "secret");
  if (!server.start()) return std::fprintf(stderr, "server did not start\n"), 1;
  const int64_t size = static_cast<int64_t>(mib) << 20;
  WriteFile(server.userDir("bench") + "/下载空间/big.bin", PatternBytes(static_cast<size_t>(size)));
  testclients::WebSession web(server.webPort());
  web.login("bench", "secret");
  auto listing = web.list();
  auto entry = listing ? listing->byName("big.bin") : std::nullopt;
  auto login = testclients::HttpGet(
      server.webPort(), "/page/login?username=bench&password=" + testclients::Md5("secret"));
  if (!entry || login.body.substr(0, 3) != "ok,") return std::fprintf(stderr, "no file\n"), 1;
  const QString session = QString::fromStdString(login.body.substr(3));
  const std::string url =
      "http://127.0.0.1:" + std::to_string(server.webPort()) + "/download?id=" + entry->id;

  double bestTask = 0, bestCurl = 0;
  for (int round = 1; round <= rounds; ++round) {
    TempDir local;
    double taskSeconds = 0;
    {
      ActiveDownloads active;
      DownloadFile downloads(QString::fromStdString(local.path()), active);
      downloads.setSession(session);
      downloads.add(entry->id, url, local.file("big.bin"), size, true);
      auto started = std::chrono::steady_clock::now();
      downloads.timer();
      while (downloads.task(entry->id)->size != size ||
             std::filesystem::file_size(local.file("big.bin")) != static_cast<uintmax_t>(size))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
      taskSeconds = Seconds(started);
    }
    std::string address =
        DownloadFileThread::SignedAddress(QString::fromStdString(url), session,
                                          static_cast<uint32_t>(std::time(nullptr)))
            .toStdString();
    auto started = std::chrono::steady_clock::now();
    std::string command = "curl -s -o '" + local.file("curl.bin") + "' '" + address + "'";
    if (std::system(command.c_str()) != 0) return std::fprintf(stderr, "curl failed\n"), 1;
    double curlSeconds = Seconds(started);
    if (std::filesystem::file_size(local.file("curl.bin")) != static_cast<uintmax_t>(size))
      return std::fprintf(stderr, "curl got a different size\n"), 1;
    double task = mib / taskSeconds, curl = mib / curlSeconds;
    std::printf("round %d: task %.1f MiB/s, curl %.1f MiB/s\n", round, task, curl);
    bestTask = std::max(bestTask, task);
    bestCurl = std::max(bestCurl, curl);
  }
  std::printf("download task %d MiB: %.1f MiB/s (best of %d)\n", mib, bestTask, rounds);
  std::printf("curl same signed address: %.1f MiB/s (best of %d)\n", bestCurl, rounds);
  std::printf("ratio task/curl: %.2f (target >= 0.90)\n", bestTask / bestCurl);
  return 0;
}
