// The download and upload lists: progress, speed, state, and start / pause / delete, open
// file and open folder. Both lists are read once a second.
Page.transfers = (function () {
  var ui = Page.ui;
  var bridge = Page.bridge;
  var STATUS_TEXT = {
    stop: "已停止", downloading: "下载中", uploading: "上传中", completed: "已完成",
    paused: "已暂停", waiting: "等待中", error: "出错"
  };
  var lists = {
    download: { slot: "getAllDownloadTaskList", table: "download-table", empty: "downloads-empty",
                summary: "downloads-summary", badge: "download-badge", tasks: [],
                order: { key: "name", descending: false } },
    upload: { slot: "getAllUploadTaskList", table: "upload-table", empty: "uploads-empty",
              summary: "uploads-summary", badge: "upload-badge", tasks: [],
              order: { key: "name", descending: false } }
  };
  // The order of the states in the state column: what needs attention first.
  var STATUS_ORDER = { error: 0, downloading: 1, uploading: 1, waiting: 2, paused: 3, stop: 4, completed: 5 };

  function percent(task) {
    var full = Number(task.fileSize);
    var done = Number(task.Size);
    if (!(full > 0)) return task.status === "completed" ? 100 : 0;
    return Math.min(100, Math.floor(done * 100 / full));
  }

  function active(task) {
    return task.status === "downloading" || task.status === "uploading" || task.status === "waiting";
  }

  function buttons(kind, task) {
    var b = function (action, text, extra, disabled) {
      return '<button class="btn small' + (extra || "") + '" data-action="' + action + '"' +
        (disabled ? " disabled" : "") + ">" + text + "</button>";
    };
    var html = active(task) ? b("pause", "暂停", "", task.status === "waiting")
                            : b("start", "开始", "", task.status === "completed");
    if (kind === "download") {
      html += b("open-file", "打开", "", task.status !== "completed") + b("open-folder", "文件夹");
    }
    return html + b("delete", "删除", " danger");
  }

  // Why the task stopped, when the program could say (a file of that name exists, ...).
  function reasonHtml(task) {
    if (!task.errorMessage || task.status === "completed") return "";
    return '<div class="progress-text error">' + ui.escapeHtml(task.errorMessage) + "</div>";
  }

  function rowHtml(kind, task) {
    var p = percent(task);
    var barClass = task.status === "completed" ? "progress done" : task.status === "error" ? "progress error" : "progress";
    var speed = task.status === "downloading" || task.status === "uploading"
      ? ui.formatSize(task.downloadSpeed) + "/s" : "—";
    return '<td><div class="name">' + ui.fileIcon(task.fileName) + "<span title=\"" +
      ui.escapeHtml(task.fileName) + '">' + ui.escapeHtml(task.fileName) + "</span></div></td>" +
      '<td><div class="' + barClass + '"><div class="bar" style="width:' + p + '%"></div></div>' +
      '<div class="progress-text">' + p + "% · " + ui.formatSize(task.Size) + " / " +
      ui.formatSize(task.fileSize) + "</div>" + reasonHtml(task) + "</td>" +
      '<td class="muted">' + speed + "</td>" +
      '<td><span class="status-tag ' + task.status + '">' + (STATUS_TEXT[task.status] || task.status) +
      "</span></td>" + '<td class="actions">' + buttons(kind, task) + "</td>";
  }

  function taskValue(task, key) {
    if (key === "name") return String(task.fileName);
    if (key === "id") return String(task.fileId);
    if (key === "progress") return percent(task);
    if (key === "speed") return task.status === "downloading" || task.status === "uploading" ? Number(task.downloadSpeed) || 0 : 0;
    if (key === "status") return STATUS_ORDER.hasOwnProperty(task.status) ? STATUS_ORDER[task.status] : 9;
    return String(task[key]);
  }

  // Updates the rows in place and moves them into the list's order, so a click never lands
  // on a row that is being replaced and a new task shows at its place in the order.
  function render(kind) {
    var list = lists[kind];
    var body = ui.$(list.table).getElementsByTagName("tbody")[0];
    var tasks = Page.sorting.sorted(list.tasks, list.order, taskValue);
    var shown = {};
    for (var r = 0; r < body.rows.length; r++) shown[body.rows[r].getAttribute("data-id")] = body.rows[r];
    for (var i = 0; i < tasks.length; i++) {
      var task = tasks[i];
      var row = shown[task.fileId];
      delete shown[task.fileId];
      if (!row) {
        row = document.createElement("tr");
        row.setAttribute("data-id", task.fileId);
      }
      if (body.rows[i] !== row) body.insertBefore(row, body.rows[i] || null);
      var html = rowHtml(kind, task);
      if (row.getAttribute("data-html") !== html) {
        row.innerHTML = html;
        row.setAttribute("data-html", html);
      }
    }
    for (var gone in shown) {
      if (shown.hasOwnProperty(gone)) body.removeChild(shown[gone]);
    }
    ui.$(list.empty).className = list.tasks.length === 0 ? "empty" : "empty hidden";
    var running = 0, done = 0;
    for (var j = 0; j < list.tasks.length; j++) {
      if (active(list.tasks[j])) running++;
      if (list.tasks[j].status === "completed") done++;
    }
    ui.$(list.summary).textContent = "共 " + list.tasks.length + " 个任务，" + running + " 个进行中，" + done + " 个已完成";
    var badge = ui.$(list.badge);
    badge.textContent = String(running);
    badge.className = running > 0 ? "badge" : "badge hidden";
  }

  // Upload ids seen completed at the last poll: a newly finished upload shows in the file list.
  var uploadsDone = null;

  function noticeFinishedUploads() {
    var done = {}, fresh = false, tasks = lists.upload.tasks;
    for (var i = 0; i < tasks.length; i++) {
      if (tasks[i].status !== "completed") continue;
      done[tasks[i].fileId] = true;
      if (uploadsDone && !uploadsDone[tasks[i].fileId]) fresh = true;
    }
    uploadsDone = done;
    if (fresh) Page.files.reloadSoon();
  }

  function poll() {
    for (var kind in lists) {
      if (!lists.hasOwnProperty(kind)) continue;
      var answer = bridge.call(lists[kind].slot);
      if (!answer) continue;
      lists[kind].tasks = answer.result && answer.result.length !== undefined ? answer.result : [];
      render(kind);
    }
    noticeFinishedUploads();
    var downloads = lists.download.tasks, uploads = lists.upload.tasks, running = 0;
    for (var i = 0; i < downloads.length; i++) if (active(downloads[i])) running++;
    for (var j = 0; j < uploads.length; j++) if (active(uploads[j])) running++;
    ui.$("statusbar-transfers").textContent = running > 0 ? running + " 个传输任务进行中" : "";
  }

  function findTask(kind, id) {
    var tasks = lists[kind].tasks;
    for (var i = 0; i < tasks.length; i++) if (tasks[i].fileId === id) return tasks[i];
    return null;
  }

  function removeTask(kind, task) {
    var html = "确定要删除任务“<b>" + ui.escapeHtml(task.fileName) + "</b>”吗？";
    if (kind === "download") {
      html += '<br><label><input type="checkbox" id="modal-check"> 同时删除已下载的本地文件</label>';
    }
    ui.confirm("删除任务", html, "删除", function (alsoLocal) {
      var slot = kind === "download" ? "deleteDownloadTask" : "deleteUploadTask";
      if (bridge.call(slot, task.fileId, kind === "download" && alsoLocal === true)) {
        ui.toast("任务已删除");
        // The task leaves the list now, not at the next reading.
        lists[kind].tasks = lists[kind].tasks.filter(function (t) { return t.fileId !== task.fileId; });
        render(kind);
        poll();
      }
    });
  }

  function onAction(kind, action, task) {
    var download = kind === "download";
    if (action === "pause") bridge.call(download ? "pauseDownloadTask" : "pauseUploadTask", task.fileId);
    else if (action === "start") bridge.call(download ? "startDownloadTask" : "startUploadTask", task.fileId);
    else if (action === "open-file") bridge.call("openLocalFile", task.fileId);
    else if (action === "open-folder") bridge.call("openLocalFolder", task.fileId);
    else if (action === "delete") return removeTask(kind, task);
    poll();
  }

  function wire(kind) {
    ui.$(lists[kind].table).onclick = function (event) {
      var target = event.target;
      while (target && target.getAttribute && !target.getAttribute("data-action")) {
        if (target.tagName === "TABLE") return false;
        target = target.parentNode;
      }
      if (!target || !target.getAttribute) return false;
      var row = target;
      while (row && row.tagName !== "TR") row = row.parentNode;
      var task = row ? findTask(kind, row.getAttribute("data-id")) : null;
      if (task) onAction(kind, target.getAttribute("data-action"), task);
      return false;
    };
  }

  function showUploadTarget() {
    var files = Page.files;
    ui.$("uploads-target").textContent = files.currentWritable()
      ? "上传到：" + ui.visible(files.trailText())
      : "请先在“我的网盘”中打开一个可写入的文件夹";
    ui.$("uploads-add").disabled = !files.currentWritable();
  }

  function init() {
    wire("download");
    wire("upload");
    Page.sorting.attach(ui.$(lists.download.table), lists.download.order, function () { render("download"); });
    Page.sorting.attach(ui.$(lists.upload.table), lists.upload.order, function () { render("upload"); });
    ui.$("downloads-open-folder").onclick = function () { bridge.call("openLocalFolder", ""); };
    ui.$("uploads-add").onclick = function () { ui.$("files-upload").onclick(); };
  }

  return {
    init: init,
    poll: poll,
    showUploadTarget: showUploadTarget,
    task: findTask
  };
})();
