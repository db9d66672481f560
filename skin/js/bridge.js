// Calls into the desktop program's "Quellanview" object. Text slots answer a JSON object with
// "returnCode" (0 success, negative failure), "result" and "errorMessage"; every failure is
// shown to the user through Page.ui.error.
var Page = window.Page || {};
window.Page = Page;

Page.bridge = (function () {
  function available(name) {
    return typeof window.Quellanview === "object" && window.Quellanview !== null &&
      typeof window.Quellanview[name] === "function";
  }

  // Runs a text slot and parses its answer; null when the slot is missing or the text is not
  // JSON (both reported).
  function answerOf(name, args) {
    if (!available(name)) {
      Page.ui.error("程序接口不可用：" + name);
      return null;
    }
    var text;
    try {
      text = window.Quellanview[name].apply(window.Quellanview, args);
    } catch (e) {
      Page.ui.error("程序没有完成这个操作（" + name + "），请稍后重试");
      return null;
    }
    try {
      return JSON.parse(text);
    } catch (e) {
      Page.ui.error("程序返回的数据无法解析（" + name + "）");
      return null;
    }
  }

  // The program's sentence for a failure ("errorText") where it gave one, else its message;
  // never a bare code.
  function failureText(answer) {
    return answer.errorText || answer.errorMessage || "操作没有成功，请稍后重试";
  }

  // A text slot whose failure is shown as a message: the answer on success, else null.
  function call(name) {
    var answer = answerOf(name, Array.prototype.slice.call(arguments, 1));
    if (!answer) return null;
    if (answer.returnCode < 0) {
      Page.ui.error(failureText(answer));
      return null;
    }
    return answer;
  }

  // A text slot whose failure the caller shows in place (a status line, a field): the answer
  // as it came, or null when there was none.
  function ask(name) {
    return answerOf(name, Array.prototype.slice.call(arguments, 1));
  }

  // A slot that returns nothing (window operations, asynchronous requests).
  function act(name) {
    if (!available(name)) {
      Page.ui.error("程序接口不可用：" + name);
      return false;
    }
    try {
      window.Quellanview[name].apply(window.Quellanview, Array.prototype.slice.call(arguments, 1));
      return true;
    } catch (e) {
      Page.ui.error("程序没有完成这个操作（" + name + "），请稍后重试");
      return false;
    }
  }

  // The drive status codes by name ({RUNNING: 2, ...}), as the program defines them; empty
  // (and reported) when the program offers none.
  function driveStates() {
    var states = window.Quellanview && window.Quellanview.driveStates;
    if (typeof states === "object" && states !== null) return states;
    Page.ui.error("程序接口不可用：driveStates");
    return {};
  }

  // The reference service's page address, from the configured server address.
  function serviceBase() {
    var answer = answerOf("getServerAddress", []);
    var host = answer && answer.returnCode >= 0 && answer.result ? answer.result : "127.0.0.1";
    if (host.indexOf(":") < 0) host += ":8168";
    return "http://" + host;
  }

  return {
    available: available,
    call: call,
    ask: ask,
    act: act,
    failureText: failureText,
    driveStates: driveStates,
    serviceBase: serviceBase
  };
})();
