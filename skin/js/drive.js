// The drive: its status once a second, its letter, start / stop / restart.
Page.drive = (function () {
  var ui = Page.ui;
  var bridge = Page.bridge;
  var S = bridge.driveStates();
  var state = { code: null, info: "", letter: "", reason: "", action: "" };
  var START_POLL_MS = 250;
  var listeners = [];

  function isOneOf(code, names) {
    for (var i = 0; i < names.length; i++) {
      if (code === S[names[i]]) return true;
    }
    return false;
  }

  function starting(code) { return isOneOf(code, ["STARTING", "LOADED", "LOGGING_IN", "LOGGED_IN"]); }
  function notRunning(code) { return code === null || isOneOf(code, ["STOPPED", "NO_PIPE"]); }

  function dotClass(code) {
    if (state.action !== "") return "dot busy";
    if (code === S.RUNNING) return "dot ok";
    if (starting(code) || code === S.STOPPING) return "dot busy";
    if (notRunning(code)) return "dot";
    return "dot bad";
  }

  // One state is shown everywhere: the status line, the status bar and the buttons follow the
  // same reading, and the letter's place shows a letter or "—", never a status text.
  function show() {
    var text = state.info || "正在查询…";
    ui.$("drive-status").textContent = text;
    ui.$("statusbar-status").textContent = text;
    ui.$("drive-reason").textContent = state.reason;
    ui.$("drive-reason").className = state.reason ? "reason" : "reason hidden";
    ui.$("drive-dot").className = dotClass(state.code);
    ui.$("statusbar-dot").className = dotClass(state.code);
    ui.$("drive-letter").textContent = state.letter;
    var running = state.code === S.RUNNING;
    var busy = state.action !== "";
    ui.$("drive-start").disabled = running || busy;
    ui.$("drive-stop").disabled = busy || (state.code !== null && notRunning(state.code));
    ui.$("drive-restart").disabled = busy;
  }

  // The letter of a running drive comes with its status (or is asked for); otherwise the
  // configured letter is shown as not mounted.
  function readLetter(status) {
    if (state.code !== S.RUNNING) {
      var configured = bridge.ask("getDriveLetter");
      state.letter = configured && configured.returnCode >= 0 ? configured.result + ":（未挂载）" : "—";
      return;
    }
    if (status.Letter) {
      state.letter = status.Letter + ":";
      return;
    }
    var answer = bridge.ask("getRunDriveLetter");
    // Between two readings the drive may have gone: its status tells that at the next one.
    state.letter = answer && answer.returnCode >= 0 ? answer.result + ":" : "—";
  }

  function poll() {
    var answer = bridge.ask("getNetDiskStatus");
    if (!answer || answer.returnCode < 0 || !answer.result) return;
    var before = state.code;
    state.code = answer.result.Code;
    state.info = answer.result.Info;
    state.reason = answer.result.Reason || "";
    state.action = answer.result.Action || "";
    // A running drive's letter is read with every reading, so a drive that came back at
    // another letter shows it at once.
    if (before !== state.code || state.code === S.RUNNING) readLetter(answer.result);
    show();
    if (before !== state.code) {
      for (var i = 0; i < listeners.length; i++) listeners[i](state.code, before);
    }
  }

  // After the page started, stopped or restarted the drive, the next reading counts as a
  // change, so that its listeners hear of the drive's new state.
  function forget() { state.code = null; }

  // Starts the drive program without holding the window, and follows its status for up to
  // `seconds`: mounted, failed with the drive program's reason, or still on its way (the
  // status line follows it from there).
  function startAndFollow(seconds) {
    if (!bridge.call("beginStartDisk")) return;
    forget();
    poll();
    var deadline = new Date().getTime() + (seconds || 20) * 1000;
    var sawStart = state.action === "start";
    var follow = setInterval(function () {
      poll();
      if (state.action === "start") sawStart = true;
      // The start is over once the program stopped working on it: it either ended with a
      // reason or was seen under way and is no longer.
      var over = state.action === "" && (state.reason !== "" || sawStart);
      var ended = over && state.code !== null && !starting(state.code);
      if (state.code === S.RUNNING) ui.ok("网盘已启动");
      else if (ended) ui.error(state.reason || state.info);
      else if (new Date().getTime() < deadline) return;
      else ui.toast("网盘仍在启动，请稍候");
      clearInterval(follow);
    }, START_POLL_MS);
  }

  // Starts the drive program and waits up to `seconds` for the drive to be mounted. A drive
  // that is still on its way when the wait ends keeps starting; the status line follows it.
  function start(seconds) {
    if (bridge.available("beginStartDisk")) return startAndFollow(seconds);
    ui.busy("正在启动网盘，请稍候…");
    ui.afterPaint(function () {
      var answer = bridge.ask("startDisk", 1, seconds || 20);
      ui.idle();
      forget();
      poll();
      if (!answer) return;
      if (answer.returnCode >= 0) ui.ok("网盘已启动");
      else if (starting(state.code)) ui.toast("网盘仍在启动（" + bridge.failureText(answer) + "），请稍候");
      else ui.error(bridge.failureText(answer));
    });
  }

  function stop() {
    ui.busy("正在停止网盘…");
    ui.afterPaint(function () {
      var answer = bridge.call("stopDisk");
      ui.idle();
      forget();
      poll();
      // The message agrees with the status: a stop still under way says so.
      if (answer) ui.toast(notRunning(state.code) && state.action === "" ? "网盘已停止" : "正在停止网盘…");
    });
  }

  function restart() {
    ui.busy("正在重启网盘…");
    ui.afterPaint(function () {
      var answer = bridge.call("restartDisk");
      ui.idle();
      forget();
      if (answer) ui.toast("网盘正在重新启动");
      poll();
    });
  }

  // After a login: a drive that runs for another account (or with an old password) is
  // stopped first; then the drive is started unless it already runs or starts. `seconds` is
  // how long the window may wait for it.
  function startForLogin(accountChanged, seconds) {
    poll();
    var stopped = notRunning(state.code) || state.code === S.PIPE_BROKEN;
    if (accountChanged && !stopped) {
      bridge.call("stopDisk");
      poll();
    }
    if (state.code !== S.RUNNING && !starting(state.code)) start(seconds);
  }

  function init() {
    ui.$("drive-start").onclick = function () { start(20); };
    ui.$("drive-stop").onclick = stop;
    ui.$("drive-restart").onclick = restart;
    setInterval(poll, 1000);
  }

  return {
    init: init,
    poll: poll,
    start: start,
    stop: stop,
    restart: restart,
    startForLogin: startForLogin,
    state: state,
    running: function () { return state.code === S.RUNNING; },
    states: S,
    onChange: function (listener) { listeners.push(listener); }
  };
})();
