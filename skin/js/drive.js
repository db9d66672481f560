// The drive: its status once a second, its letter, start / stop / restart.
Page.drive = (function () {
  var ui = Page.ui;
  var bridge = Page.bridge;
  var RUNNING = 2;
  var state = { code: null, info: "", letter: "" };
  var listeners = [];
  var letterKnown = false;

  function dotClass(code) {
    if (code === RUNNING) return "dot ok";
    if (code === 1 || code === 3 || code === 4 || code === 5 || code === 8) return "dot busy";
    if (code === 9 || code === -99 || code === null) return "dot";
    return "dot bad";
  }

  function show() {
    var text = state.info || "正在查询…";
    ui.$("drive-status").textContent = text;
    ui.$("statusbar-status").textContent = text;
    ui.$("drive-dot").className = dotClass(state.code);
    ui.$("statusbar-dot").className = dotClass(state.code);
    ui.$("drive-letter").textContent = state.letter;
    var running = state.code === RUNNING;
    ui.$("drive-start").disabled = running;
    ui.$("drive-stop").disabled = state.code === -99 || state.code === 9;
  }

  function readLetter() {
    letterKnown = false;
    if (state.code !== RUNNING) {
      var configured = bridge.ask("getDriveLetter");
      state.letter = configured && configured.returnCode >= 0 ? configured.result + ":（未挂载）" : "—";
      return;
    }
    var answer = bridge.ask("getRunDriveLetter");
    if (!answer) return;
    // A failure here is shown where the letter stands ("网盘未启动" and the like); the letter
    // is asked again with the next reading.
    letterKnown = answer.returnCode >= 0;
    state.letter = letterKnown ? answer.result + ":" : bridge.failureText(answer);
  }

  function poll() {
    var answer = bridge.ask("getNetDiskStatus");
    if (!answer || answer.returnCode < 0 || !answer.result) return;
    var before = state.code;
    state.code = answer.result.Code;
    state.info = answer.result.Info;
    // The letter is asked once per change: the drive program's pipe is shared with the
    // program's own status watcher, which must be the one to notice a broken pipe.
    if (before !== state.code || (state.code === RUNNING && !letterKnown)) readLetter();
    show();
    if (before !== state.code) {
      for (var i = 0; i < listeners.length; i++) listeners[i](state.code, before);
    }
  }

  // After the page started, stopped or restarted the drive, the next reading counts as a
  // change (the drive may have come back at another letter between two readings).
  function forget() { state.code = null; }

  function starting() { return state.code === 1 || state.code === 3 || state.code === 4 || state.code === 5; }

  // Starts the drive program and waits up to `seconds` for the drive to be mounted. A drive
  // that is still on its way when the wait ends keeps starting; the status line follows it.
  function start(seconds) {
    ui.busy("正在启动网盘，请稍候…");
    ui.afterPaint(function () {
      var answer = bridge.ask("startDisk", 1, seconds || 20);
      ui.idle();
      forget();
      poll();
      if (!answer) return;
      if (answer.returnCode >= 0) ui.ok("网盘已启动");
      else if (starting()) ui.toast("网盘仍在启动（" + bridge.failureText(answer) + "），请稍候");
      else ui.error(bridge.failureText(answer));
    });
  }

  function stop() {
    ui.busy("正在停止网盘…");
    ui.afterPaint(function () {
      var answer = bridge.call("stopDisk");
      ui.idle();
      forget();
      if (answer) ui.toast("网盘已停止");
      poll();
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
    var stopped = state.code === null || state.code === -99 || state.code === -9 || state.code === 9;
    if (accountChanged && !stopped) {
      bridge.call("stopDisk");
      poll();
    }
    if (state.code !== RUNNING && !starting()) start(seconds);
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
    running: function () { return state.code === RUNNING; },
    onChange: function (listener) { listeners.push(listener); }
  };
})();
