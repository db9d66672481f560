// The page's start: window buttons and the drag area, the login with the service's page
// session, and the switching between the views.
Page.app = (function () {
  var ui = Page.ui;
  var bridge = Page.bridge;
  var EMPTY_PASSWORD_DIGEST = "d41d8cd98f00b204e9800998ecf8427e";
  var TITLE_HEIGHT = 50;
  var BUTTONS_WIDTH = 150;  // the window buttons at the right end stay clickable, not draggable
  var views = ["files", "downloads", "uploads", "settings"];
  var base = "";
  var user = "";
  var loggedIn = false;
  var startedAtLoad = false;  // the drive was started with the stored account at load

  function serviceBase() {
    if (!base) base = bridge.serviceBase();
    return base;
  }

  function showView(name) {
    ui.$("login-view").className = "view hidden";
    for (var i = 0; i < views.length; i++) {
      var view = ui.$(views[i] + "-view");
      var extra = views[i] === "downloads" || views[i] === "uploads" ? " transfer-view" : "";
      view.className = "view" + extra + (views[i] === name ? "" : " hidden");
    }
    var links = ui.$("nav").getElementsByTagName("a");
    for (var j = 0; j < links.length; j++) {
      links[j].className = links[j].getAttribute("data-view") === name ? "active" : "";
    }
    if (name === "settings") Page.settings.load();
    if (name === "downloads" || name === "uploads") Page.transfers.poll();
    if (name === "files") Page.files.reload();
  }

  function showLogin() {
    loggedIn = false;
    ui.$("nav").className = "hidden";
    ui.$("account").className = "hidden";
    for (var i = 0; i < views.length; i++) ui.$(views[i] + "-view").className = "view hidden";
    ui.$("login-view").className = "view";
  }

  function setLoginError(text) {
    ui.$("login-error").textContent = text;
    if (text) ui.messages.push("login:" + text);
  }

  // Asks the service for the page session that signs the download addresses.
  function requestPageSession(name, digest, done) {
    var request = new XMLHttpRequest();
    var address = serviceBase() + "/page/login?username=" + encodeURIComponent(name) +
      "&password=" + encodeURIComponent(digest);
    request.open("GET", address, true);
    request.onreadystatechange = function () {
      if (request.readyState !== 4) return;
      if (request.status !== 200) {
        done(null, "无法连接服务器 " + serviceBase());
        return;
      }
      var text = String(request.responseText || "");
      if (text.indexOf("ok,") === 0) done(text.substring(3), "");
      else if (text.indexOf("err,Password") === 0) done(null, "用户名或密码错误");
      else done(null, "登录失败，服务器暂时无法完成登录，请稍后重试");
    };
    request.send(null);
  }

  // Logs in with a stored password digest: the page session, then the main views.
  function loginWith(name, digest, accountChanged, onFailure) {
    setLoginError("");
    ui.$("login-button").disabled = true;
    requestPageSession(name, digest, function (session, failure) {
      ui.$("login-button").disabled = false;
      if (!session) return onFailure(failure);
      bridge.act("setLoginSession", session);
      user = name;
      enter(accountChanged);
    });
  }

  function login() {
    var name = ui.$("login-name").value.replace(/^\s+|\s+$/g, "");
    var password = ui.$("login-password").value;
    if (!name) return setLoginError("请输入用户名");
    if (!password) return setLoginError("请输入密码");
    var storedName = bridge.ask("getUserName");
    var storedDigest = bridge.ask("getPassWord");
    if (!bridge.call("setUserName", name) || !bridge.call("setPassWord", password)) return;
    var digest = bridge.call("getPassWord");
    if (!digest) return;
    var accountChanged = !storedName || storedName.result !== name || !storedDigest ||
      storedDigest.result !== digest.result;
    Page.settings.setAutoLogin(ui.$("login-auto").checked);
    ui.busy("正在登录…");
    loginWith(name, digest.result, accountChanged, function (failure) {
      ui.idle();
      setLoginError(failure);
    });
  }

  function enter(accountChanged) {
    ui.idle();
    loggedIn = true;
    ui.$("login-password").value = "";
    ui.$("nav").className = "";
    ui.$("account").className = "";
    ui.$("account").textContent = ui.visible(user);
    Page.settings.load();  // also hands the stored parallel download limit to the program
    showView("files");
    Page.transfers.poll();
    if (!startedAtLoad || accountChanged) Page.drive.startForLogin(accountChanged, 20);
    startedAtLoad = false;
  }

  // Logging out stops the drive and forgets the password (an empty password is never valid).
  function logout() {
    ui.confirm("退出登录", "退出登录会停止网盘并清除保存的密码。确定退出吗？", "退出登录", function () {
      bridge.call("stopDisk");
      bridge.act("setLoginSession", "");
      bridge.call("setPassWord", "");
      Page.drive.poll();
      showLogin();
    });
  }

  function storedAccount() {
    var name = bridge.ask("getUserName");
    var digest = bridge.ask("getPassWord");
    return {
      name: name && name.result ? name.result : "",
      digest: digest && digest.result && digest.result !== EMPTY_PASSWORD_DIGEST ? digest.result : ""
    };
  }

  // With an account in the settings the drive starts with the program, as it would without
  // the page, and the page logs in with the stored password, unless the person turned
  // auto-login off: then the page waits for the password.
  function startWithStoredAccount() {
    var account = storedAccount();
    var automatic = Page.settings.autoLogin();
    ui.$("login-name").value = account.name;
    ui.$("login-auto").checked = automatic;
    ui.$("login-server").textContent = serviceBase().replace("http://", "服务器 ");
    showLogin();
    if (!account.name || !automatic) return;
    Page.drive.startForLogin(false, 1);
    startedAtLoad = true;
    if (!account.digest) return;
    loginWith(account.name, account.digest, false, setLoginError);
  }

  function setUpWindow() {
    var range = function () {
      bridge.act("setMouseMoveRange", 0, 0, TITLE_HEIGHT, Math.max(0, window.innerWidth - BUTTONS_WIDTH));
    };
    range();
    bridge.act("isMoving", true);
    window.onresize = range;
    ui.$("button-close").onclick = function () { bridge.act("close"); };
    ui.$("button-minimise").onclick = function () { bridge.act("miniWindow"); };
    ui.$("button-hide").onclick = function () { bridge.act("hideWindow"); };
  }

  function init() {
    ui.init();
    Page.drive.init();
    Page.files.init();
    Page.transfers.init();
    Page.settings.init();
    setUpWindow();
    ui.$("login-button").onclick = login;
    ui.$("settings-logout").onclick = logout;
    var links = ui.$("nav").getElementsByTagName("a");
    for (var i = 0; i < links.length; i++) {
      links[i].onclick = function () {
        showView(this.getAttribute("data-view"));
        return false;
      };
    }
    Page.drive.onChange(function (code, before) {
      var running = Page.drive.states.RUNNING;
      if (loggedIn && code === running) Page.files.driveRunning();
      else if (before === running) Page.files.clear();
    });
    setInterval(function () { if (loggedIn) Page.transfers.poll(); }, 1000);
    Page.drive.poll();
    startWithStoredAccount();
  }

  return {
    init: init,
    showView: showView,
    serviceBase: serviceBase,
    userName: function () { return user; },
    loggedIn: function () { return loggedIn; }
  };
})();

if (window.Quellanview) {
  Page.app.init();
} else {
  Page.ui.init();
  Page.ui.$("login-error").textContent = "请在 Ondrel 客户端中打开此页面";
}
