// The page's start: window buttons and the drag area, the login with the service's page
// session, and the switching between the views.
Page.app = (function () {
  var ui = Page.ui;
  var bridge = Page.bridge;
  var REMEMBER_KEY = "rememberPassword";
  var TITLE_HEIGHT = 50;
  var BUTTONS_WIDTH = 150;  // the window buttons at the right end stay clickable, not draggable
  var views = ["files", "downloads", "uploads", "settings"];
  var base = "";
  var user = "";
  var loggedIn = false;

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
      else done(null, "登录失败：" + text);
    };
    request.send(null);
  }

  function login() {
    var name = ui.$("login-name").value.replace(/^\s+|\s+$/g, "");
    var password = ui.$("login-password").value;
    var remember = ui.$("login-remember").checked;
    if (!name) return setLoginError("请输入用户名");
    var storedName = bridge.ask("getUserName");
    var storedDigest = bridge.ask("getPassWord");
    var useStored = password === "" && remember && storedDigest && storedDigest.result &&
      storedName && storedName.result === name;
    if (!password && !useStored) return setLoginError("请输入密码");
    var accountChanged = !storedName || storedName.result !== name || !useStored;
    if (!bridge.call("setUserName", name)) return;
    if (!useStored && !bridge.call("setPassWord", password)) return;
    var digest = bridge.call("getPassWord");
    if (!digest) return;
    bridge.call("saveData", REMEMBER_KEY, remember ? "1" : "");
    setLoginError("");
    ui.$("login-button").disabled = true;
    ui.busy("正在登录…");
    requestPageSession(name, digest.result, function (session, failure) {
      ui.idle();
      ui.$("login-button").disabled = false;
      if (!session) return setLoginError(failure);
      bridge.act("setLoginSession", session);
      if (!remember) ui.$("login-password").value = "";
      user = name;
      enter(accountChanged);
    });
  }

  function enter(accountChanged) {
    loggedIn = true;
    ui.$("nav").className = "";
    ui.$("account").className = "";
    ui.$("account").textContent = user;
    showView("files");
    Page.transfers.poll();
    Page.drive.startForLogin(accountChanged);
  }

  function logout() {
    ui.confirm("退出登录", "退出登录会停止网盘，正在进行的传输也会暂停。确定退出吗？", "退出登录", function () {
      bridge.call("stopDisk");
      bridge.act("setLoginSession", "");
      Page.drive.poll();
      showLogin();
    });
  }

  function fillLoginForm() {
    var storedName = bridge.ask("getUserName");
    var remember = bridge.ask("getData", REMEMBER_KEY);
    ui.$("login-name").value = storedName && storedName.result ? storedName.result : "";
    ui.$("login-remember").checked = !!(remember && remember.result === "1");
    ui.$("login-password").placeholder = ui.$("login-remember").checked ? "已记住密码" : "";
    ui.$("login-server").textContent = serviceBase().replace("http://", "服务器 ");
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
    Page.drive.onChange(function (code) {
      if (loggedIn && code === 2) Page.files.reloadSoon();
    });
    setInterval(function () { if (loggedIn) Page.transfers.poll(); }, 1000);
    fillLoginForm();
    showLogin();
    Page.drive.poll();
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
