// Settings (drive letter, default download folder, parallel downloads) and the version with
// the update check and download.
Page.settings = (function () {
  var ui = Page.ui;
  var bridge = Page.bridge;
  var MAX_DOWNLOADS_KEY = "maxDownloads";
  var AUTO_LOGIN_KEY = "autoLogin";
  var letterFolder = "";  // the configured letter's folder on this machine, "<drive root>/K"
  var currentVersion = "";

  function loadLetters() {
    var configured = bridge.call("getDriveLetter");
    var list = bridge.call("getDriveLetterList");
    var select = ui.$("settings-letter");
    select.innerHTML = "";
    letterFolder = configured && configured.folder ? String(configured.folder) : "";
    var letters = list && list.result ? list.result : [];
    for (var i = 0; i < letters.length; i++) {
      var option = document.createElement("option");
      option.value = letters[i];
      option.textContent = letters[i] + ":";
      if (configured && configured.result === letters[i]) option.selected = true;
      select.appendChild(option);
    }
    showLetterFolder();
  }

  // The folder of the chosen letter: the drive root holds one folder per letter.
  function showLetterFolder() {
    var letter = ui.$("settings-letter").value;
    var folder = letterFolder && letter ? letterFolder.slice(0, -1) + letter : "";
    ui.$("settings-letter-folder").textContent = folder ? ui.visible(folder) : "—";
    ui.$("settings-letter-folder").title = ui.visible(folder);
  }

  // Auto-login is on unless the person turned it off; the choice lives in the page store.
  function autoLogin() {
    var stored = bridge.ask("getData", AUTO_LOGIN_KEY);
    return !(stored && stored.returnCode >= 0 && stored.result === "0");
  }

  function setAutoLogin(on) {
    bridge.call("saveData", AUTO_LOGIN_KEY, on ? "1" : "0");
  }

  function saveLetter() {
    var letter = ui.$("settings-letter").value;
    if (!letter) return;
    if (bridge.call("setDriveLetter", letter)) ui.ok("盘符已设为 " + letter + ":，重启网盘后生效");
  }

  function loadPath() {
    var answer = bridge.call("getDefaultLocalSavePath");
    if (answer) ui.$("settings-path").value = answer.result || "";
  }

  function savePath() {
    var path = ui.$("settings-path").value.replace(/^\s+|\s+$/g, "");
    if (!path) return ui.error("请填写下载目录");
    if (bridge.call("setDefaultLocalSavePath", path)) {
      ui.ok("默认下载目录已保存");
      loadPath();
    }
  }

  function browsePath() {
    var answer = bridge.call("modifyDefaultLocalSavePath");
    if (answer && answer.result) {
      ui.$("settings-path").value = answer.result;
      ui.ok("默认下载目录已保存");
    }
  }

  // The parallel download limit lives in the page store and is handed to the program at start.
  function applyMaxDownloads(value) {
    var n = Number(value) > 0 ? Number(value) : 3;
    bridge.call("setMaxActiveDownloadTaskNumber", n);
    return n;
  }

  function loadMaxDownloads() {
    var stored = bridge.call("getData", MAX_DOWNLOADS_KEY);
    var n = applyMaxDownloads(stored ? stored.result : "");
    var select = ui.$("settings-max-downloads");
    select.innerHTML = "";
    for (var i = 1; i <= 8; i++) {
      var option = document.createElement("option");
      option.value = String(i);
      option.textContent = i + " 个";
      if (i === n) option.selected = true;
      select.appendChild(option);
    }
  }

  function saveMaxDownloads() {
    var value = ui.$("settings-max-downloads").value;
    if (bridge.call("saveData", MAX_DOWNLOADS_KEY, value)) {
      applyMaxDownloads(value);
      ui.ok("同时下载数已设为 " + value);
    }
  }

  function loadVersion() {
    var answer = bridge.call("getCurVersion");
    currentVersion = answer && answer.result ? answer.result : "";
    ui.$("version-current").textContent = currentVersion || "未知";
    ui.$("statusbar-version").textContent = currentVersion || "未知";
  }

  function checkVersion() {
    ui.$("version-result").textContent = "正在检查…";
    bridge.act("getNewVersion", "Page.settings.onNewVersion");
  }

  // Answer of the update check: {"returnCode", "result": newest version} or a failure.
  function onNewVersion(answer) {
    if (!answer || answer.returnCode < 0) {
      ui.$("version-result").textContent = "";
      ui.error(answer ? bridge.failureText(answer) : "检查更新失败");
      return;
    }
    var newest = String(answer.result || "");
    if (!newest || newest === currentVersion) {
      ui.$("version-result").textContent = "已是最新版本";
      ui.$("version-download-row").className = "setting-row hidden";
      return;
    }
    ui.$("version-result").textContent = "发现新版本 " + newest;
    ui.$("version-new").textContent = newest;
    ui.$("version-download-row").className = "setting-row";
  }

  function downloadUpdate() {
    ui.$("update-progress").className = "";
    ui.$("version-download").disabled = true;
    bridge.act("downloadNewProgram", "Page.settings.onUpdateProgress");
  }

  // Progress answers {"Received", "Total"}; the last one also names the downloaded "File".
  function onUpdateProgress(answer) {
    var box = ui.$("update-progress");
    if (!answer || answer.returnCode < 0) {
      ui.$("version-download").disabled = false;
      box.className = "hidden";
      ui.error(answer ? bridge.failureText(answer) : "下载更新失败");
      return;
    }
    var received = Number(answer.result.Received), total = Number(answer.result.Total);
    var p = total > 0 ? Math.floor(received * 100 / total) : 0;
    box.getElementsByTagName("div")[1].style.width = p + "%";
    box.getElementsByTagName("div")[2].textContent = p + "% · " + ui.formatSize(received) + " / " + ui.formatSize(total);
    if (answer.result.File) {
      box.getElementsByTagName("div")[0].className = "progress done";
      box.getElementsByTagName("div")[2].textContent = "已下载到 " + ui.visible(answer.result.File);
      ui.$("version-download").disabled = false;
      ui.ok("新版本已下载完成");
      offerInstall();
    }
  }

  // Installing replaces the program (or hands the package to the system's installer, which
  // asks for the administrator's password) and restarts the program.
  function offerInstall() {
    ui.confirm("安装新版本",
      "新版本已下载。安装后程序会关闭并重新启动；如果程序是用软件包安装的，系统会先请求管理员密码。",
      "安装并重启", function () {
        bridge.act("installNewProgram", "Page.settings.onInstalled");
      });
  }

  function onInstalled(answer) {
    if (!answer || answer.returnCode < 0) {
      ui.error(answer ? bridge.failureText(answer) : "安装新版本失败");
      return;
    }
    ui.ok(String(answer.result || "新版本已安装"));
  }

  function load() {
    ui.$("settings-user").textContent = ui.visible(Page.app.userName());
    ui.$("settings-server").textContent = Page.app.serviceBase();
    ui.$("settings-auto-login").checked = autoLogin();
    loadLetters();
    loadPath();
    loadMaxDownloads();
  }

  function init() {
    ui.$("settings-letter-save").onclick = saveLetter;
    ui.$("settings-letter").onchange = showLetterFolder;
    ui.$("settings-auto-login").onchange = function () {
      setAutoLogin(this.checked);
      ui.ok(this.checked ? "下次启动时将自动登录" : "下次启动时需要输入密码登录");
    };
    ui.$("settings-path-save").onclick = savePath;
    ui.$("settings-path-browse").onclick = browsePath;
    ui.$("settings-max-downloads").onchange = saveMaxDownloads;
    ui.$("version-check").onclick = checkVersion;
    ui.$("version-download").onclick = downloadUpdate;
    loadVersion();
  }

  return {
    init: init,
    load: load,
    autoLogin: autoLogin,
    setAutoLogin: setAutoLogin,
    onNewVersion: onNewVersion,
    onUpdateProgress: onUpdateProgress,
    onInstalled: onInstalled,
    checkVersion: checkVersion
  };
})();
