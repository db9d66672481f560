// Messages, dialogs, the busy cover, formatting and icons shared by the views.
Page.ui = (function () {
  var modalHandlers = null;
  var MAX_TOASTS = 3;  // older messages give way to newer ones
  var messages = [];  // every message shown, newest last (also read by the page tests)

  function $(id) { return document.getElementById(id); }

  // Bidirectional control characters reorder the text that follows them, so that a name
  // "a\u202Egnp.exe" would read "aexe.png"; shown texts carry them as visible "⟨U+202E⟩".
  var BIDI_CONTROLS = /[\u061C\u200E\u200F\u202A-\u202E\u2066-\u2069]/g;

  function visible(text) {
    return String(text === undefined || text === null ? "" : text).replace(BIDI_CONTROLS, function (c) {
      return "⟨U+" + ("000" + c.charCodeAt(0).toString(16).toUpperCase()).slice(-4) + "⟩";
    });
  }

  function escapeHtml(text) {
    return visible(text)
      .replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;")
      .replace(/"/g, "&quot;").replace(/'/g, "&#39;");
  }

  function toast(text, kind) {
    messages.push((kind || "info") + ":" + text);
    var box = document.createElement("div");
    box.className = "toast-line";
    box.innerHTML = '<span class="toast ' + (kind || "") + '">' + escapeHtml(text) + "</span>";
    var shelf = $("toasts");
    shelf.appendChild(box);
    while (shelf.childNodes.length > MAX_TOASTS) shelf.removeChild(shelf.firstChild);
    setTimeout(function () {
      if (box.parentNode) box.parentNode.removeChild(box);
    }, kind === "error" ? 5000 : 2600);
  }

  function closeModal() {
    $("modal").className = "hidden";
    modalHandlers = null;
  }

  // A dialog with a title, a text, optionally an input line; onOk gets the input's value.
  function openModal(options) {
    $("modal-title").textContent = options.title;
    $("modal-text").innerHTML = options.html || escapeHtml(options.text || "");
    var input = $("modal-input");
    input.className = "text-input" + (options.input ? "" : " hidden");
    input.value = options.value || "";
    $("modal-ok").textContent = options.okText || "确定";
    $("modal-ok").className = "btn " + (options.danger ? "danger" : "primary");
    $("modal").className = "";
    modalHandlers = options;
    if (options.input) {
      input.focus();
      input.select();
    }
  }

  function prompt(title, label, value, onOk) {
    openModal({ title: title, text: label, input: true, value: value, onOk: onOk });
  }

  function confirm(title, html, okText, onOk) {
    openModal({ title: title, html: html, okText: okText, danger: true, onOk: onOk });
  }

  function acceptModal() {
    if (!modalHandlers) return;
    var handlers = modalHandlers;
    var value = $("modal-input").value;
    var checkbox = $("modal-check");
    var checked = checkbox ? checkbox.checked : false;
    if (handlers.input && value.replace(/\s+/g, "") === "") {
      toast("名称不能为空", "error");
      return;
    }
    closeModal();
    handlers.onOk(handlers.input ? value.replace(/^\s+|\s+$/g, "") : checked);
  }

  function busy(text) {
    $("busy-text").textContent = text;
    $("busy").className = "";
  }

  function idle() { $("busy").className = "hidden"; }

  // Runs `work` after the page had a chance to paint (slots such as startDisk block the
  // window while they run).
  function afterPaint(work) { setTimeout(work, 60); }

  function formatSize(bytes) {
    var n = Number(bytes);
    if (!(n >= 0)) return "—";
    var units = ["B", "KB", "MB", "GB", "TB"];
    var i = 0;
    while (n >= 1024 && i < units.length - 1) { n /= 1024; i++; }
    return (i === 0 ? String(n) : n.toFixed(n >= 100 ? 0 : 1)) + " " + units[i];
  }

  function two(n) { return n < 10 ? "0" + n : String(n); }

  // Seconds since 1970 as local "yyyy-MM-dd hh:mm".
  function formatTime(seconds) {
    var s = Number(seconds);
    if (!(s > 0)) return "—";
    var d = new Date(s * 1000);
    return d.getFullYear() + "-" + two(d.getMonth() + 1) + "-" + two(d.getDate()) + " " +
      two(d.getHours()) + ":" + two(d.getMinutes());
  }

  var fileColours = {
    image: "#3bb273", video: "#8e5be8", audio: "#e8755b", archive: "#b8862b",
    document: "#2f7be5", text: "#6b7888", other: "#7f95b3"
  };
  var kinds = {
    jpg: "image", jpeg: "image", png: "image", gif: "image", bmp: "image", webp: "image",
    mp4: "video", mkv: "video", avi: "video", mov: "video", wmv: "video", rmvb: "video",
    mp3: "audio", flac: "audio", wav: "audio", ogg: "audio", m4a: "audio",
    zip: "archive", rar: "archive", "7z": "archive", gz: "archive", tar: "archive",
    doc: "document", docx: "document", pdf: "document", xls: "document", xlsx: "document",
    ppt: "document", pptx: "document",
    txt: "text", md: "text", log: "text", ini: "text", csv: "text"
  };

  function folderIcon() {
    return '<svg viewBox="0 0 24 24"><path d="M2 6.5A2.5 2.5 0 0 1 4.5 4h4.6l2 2.2h8.4A2.5 2.5 0 0 1 22 8.7v9.8a2.5 2.5 0 0 1-2.5 2.5h-15A2.5 2.5 0 0 1 2 18.5z" fill="#f5b942"/><path d="M2 9h20v9.5a2.5 2.5 0 0 1-2.5 2.5h-15A2.5 2.5 0 0 1 2 18.5z" fill="#ffcc5c"/></svg>';
  }

  function fileIcon(name) {
    var dot = String(name).lastIndexOf(".");
    var ext = dot > 0 ? String(name).substring(dot + 1).toLowerCase() : "";
    var colour = fileColours[kinds[ext] || "other"];
    return '<svg viewBox="0 0 24 24"><path d="M5 2.5h9.5L20 8v13a1.5 1.5 0 0 1-1.5 1.5h-13A1.5 1.5 0 0 1 4 21V4a1.5 1.5 0 0 1 1-1.5z" fill="#fff" stroke="' +
      colour + '" stroke-width="1.4"/><path d="M14.5 2.5V8H20" fill="none" stroke="' + colour +
      '" stroke-width="1.4"/><rect x="7" y="12" width="10" height="6" rx="1" fill="' + colour + '"/></svg>';
  }

  var actionPaths = {
    download: "M8 2v8M4.5 6.5L8 10l3.5-3.5M3 13.5h10",
    open: "M9.5 2.5h4v4M13.5 2.5L8 8M11.5 9.5v4h-9v-9h4",
    reveal: "M1.5 3.5h4.2l1.3 1.5h7.5v8H1.5z",
    rename: "M2.5 13.5l.8-3.3L10.5 3 13 5.5l-7.2 7.2zM9 4.5l2.5 2.5",
    remove: "M2.5 4.5h11M6 4.5V2.5h4v2M4 4.5l.8 9h6.4l.8-9"
  };

  // A small line drawing for a row's action button.
  function actionIcon(name) {
    return '<svg viewBox="0 0 16 16"><path d="' + actionPaths[name] +
      '" fill="none" stroke="currentColor" stroke-width="1.3" stroke-linejoin="round" stroke-linecap="round"/></svg>';
  }

  function emptyIcon() {
    return '<svg viewBox="0 0 48 48"><rect x="6" y="12" width="36" height="26" rx="4" fill="none" stroke="#a9b4c2" stroke-width="2"/><path d="M6 20h36" stroke="#a9b4c2" stroke-width="2"/></svg>';
  }

  function init() {
    $("modal-ok").onclick = acceptModal;
    $("modal-cancel").onclick = closeModal;
    $("modal-input").onkeydown = function (event) {
      if (event.keyCode === 13) acceptModal();
      if (event.keyCode === 27) closeModal();
    };
  }

  return {
    $: $,
    init: init,
    visible: visible,
    escapeHtml: escapeHtml,
    toast: toast,
    error: function (text) { toast(text, "error"); },
    ok: function (text) { toast(text, "ok"); },
    messages: messages,
    prompt: prompt,
    confirm: confirm,
    busy: busy,
    idle: idle,
    afterPaint: afterPaint,
    formatSize: formatSize,
    formatTime: formatTime,
    folderIcon: folderIcon,
    fileIcon: fileIcon,
    emptyIcon: emptyIcon,
    actionIcon: actionIcon
  };
})();
