// The remote folders and files: the folder tree, the list of the open folder and the
// operations on its entries (open, open folder, make folder, rename, remove, download, upload).
Page.files = (function () {
  var ui = Page.ui;
  var bridge = Page.bridge;
  var ROOT = { id: "", name: "我的网盘" };

  var trail = [ROOT];        // folders from the top to the open one
  var roots = [];            // top-level folders
  var writableRoots = {};    // ids of the top-level folders the user may write into
  var expanded = {};         // folder id -> true while open in the tree
  var entries = [];          // rows of the open folder: {kind, id, name, size, time}
  var order = { key: "name", descending: false };  // the list's column order
  var driveAway = false;     // the drive stopped or died: the lists are empty until it runs

  function current() { return trail[trail.length - 1]; }

  // The top-level folders are the drive's own: it refuses to rename or remove them.
  function isProtected(entry) {
    return entry.kind === "folder" && current().id === "";
  }

  function currentWritable() {
    return trail.length > 1 && writableRoots[trail[1].id] === true;
  }

  function resultArray(answer) {
    return answer && answer.result && answer.result.length !== undefined ? answer.result : [];
  }

  // ---- folder tree

  function loadRoots() {
    roots = resultArray(bridge.call("getFolderTree", 0));
    writableRoots = {};
    var writable = resultArray(bridge.call("getFolderTree", 1));
    for (var i = 0; i < writable.length; i++) writableRoots[writable[i].id] = true;
  }

  function treeNode(folder, path) {
    var node = document.createElement("div");
    node.className = "tree-node";
    var open = expanded[folder.id] === true;
    var selected = current().id === folder.id;
    var row = document.createElement("div");
    row.className = "row" + (selected ? " selected" : "");
    row.setAttribute("data-id", folder.id);
    row.innerHTML = '<span class="twist">' + (folder.isParent ? (open ? "▼" : "▶") : "") +
      "</span>" + ui.folderIcon() + '<span class="label">' + ui.escapeHtml(folder.name) + "</span>";
    var here = path.concat([{ id: folder.id, name: folder.name }]);
    row.onclick = function (event) {
      var onTwist = event.target && event.target.className === "twist";
      if (onTwist && folder.isParent) {
        expanded[folder.id] = !open;
        renderTree();
        return;
      }
      expanded[folder.id] = true;
      openTrail(here);
    };
    node.appendChild(row);
    if (open) {
      var children = document.createElement("div");
      children.className = "children";
      var subfolders = resultArray(bridge.call("getFolderListById", folder.id));
      for (var i = 0; i < subfolders.length; i++) {
        children.appendChild(treeNode(subfolders[i], here));
      }
      node.appendChild(children);
    }
    return node;
  }

  function renderTree() {
    var tree = ui.$("folder-tree");
    tree.innerHTML = "";
    for (var i = 0; i < roots.length; i++) tree.appendChild(treeNode(roots[i], [ROOT]));
  }

  // ---- list of the open folder

  function readEntries() {
    var folder = current();
    var rows = [];
    var folders = folder.id === "" ? roots : resultArray(bridge.call("getFolderListById", folder.id));
    for (var i = 0; i < folders.length; i++) {
      rows.push({ kind: "folder", id: folders[i].id, name: folders[i].name, size: "", time: 0 });
    }
    if (folder.id !== "") {
      var files = resultArray(bridge.call("getNetDiskFileList", folder.id, false));
      for (var j = 0; j < files.length; j++) {
        rows.push({ kind: "file", id: files[j].fileId, name: files[j].fileName,
                    size: files[j].fileSize, time: files[j].updateDate });
      }
    }
    return sortedEntries(rows);
  }

  function entryValue(entry, key) {
    if (key === "size") return entry.kind === "folder" ? -1 : Number(entry.size) || 0;
    if (key === "time") return Number(entry.time) || 0;
    return String(entry[key]);
  }

  // Folders stay above files in either direction.
  function sortedEntries(rows) {
    return Page.sorting.sorted(rows, order, entryValue, function (entry) {
      return entry.kind === "folder" ? 0 : 1;
    });
  }

  function actionButtons(entry) {
    var b = function (action, icon, title, extra) {
      return '<button class="icon-btn' + (extra || "") + '" data-action="' + action + '" title="' +
        title + '">' + ui.actionIcon(icon) + "</button>";
    };
    var tail = isProtected(entry) ? ""
      : b("rename", "rename", "重命名") + b("remove", "remove", "删除", " danger");
    if (entry.kind === "folder") return b("enter", "open", "打开") + tail;
    return b("download", "download", "下载") + b("play", "open", "打开") +
      b("reveal", "reveal", "打开所在文件夹") + tail;
  }

  function renderBreadcrumb() {
    var html = "";
    for (var i = 0; i < trail.length; i++) {
      if (i > 0) html += '<span class="sep">›</span>';
      var name = ui.escapeHtml(trail[i].name);
      html += i === trail.length - 1 ? '<span class="current">' + name + "</span>"
                                     : '<a href="#" data-depth="' + i + '">' + name + "</a>";
    }
    if (trail.length > 1) {
      html += currentWritable() ? '<span class="access writable">可写入</span>'
                                : '<span class="access">只读</span>';
    }
    var crumb = ui.$("breadcrumb");
    crumb.innerHTML = html;
    var links = crumb.getElementsByTagName("a");
    for (var j = 0; j < links.length; j++) {
      links[j].onclick = function () {
        openTrail(trail.slice(0, Number(this.getAttribute("data-depth")) + 1));
        return false;
      };
    }
  }

  function renderList() {
    var body = ui.$("file-table").getElementsByTagName("tbody")[0];
    var html = "";
    var fileCount = 0;
    for (var i = 0; i < entries.length; i++) {
      var e = entries[i];
      if (e.kind === "file") fileCount++;
      html += '<tr data-index="' + i + '" data-kind="' + e.kind + '" data-id="' + ui.escapeHtml(e.id) + '">' +
        '<td><div class="name">' + (e.kind === "folder" ? ui.folderIcon() : ui.fileIcon(e.name)) +
        '<a href="#" data-action="' + (e.kind === "folder" ? "enter" : "play") + '" title="' +
        ui.escapeHtml(e.name) + '">' + ui.escapeHtml(e.name) + "</a></div></td>" +
        '<td class="muted">' + (e.kind === "folder" ? "—" : ui.formatSize(e.size)) + "</td>" +
        '<td class="muted">' + ui.formatTime(e.time) + "</td>" +
        '<td class="actions">' + actionButtons(e) + "</td></tr>";
    }
    body.innerHTML = html;
    var empty = ui.$("files-empty");
    empty.className = entries.length === 0 ? "empty" : "empty hidden";
    var emptyText = current().id === "" ? "网盘中还没有文件夹" : "这个文件夹是空的";
    if (driveAway) emptyText = "网盘未运行，启动网盘后这里显示网盘中的文件";
    empty.innerHTML = ui.emptyIcon() + emptyText;
    var folderCount = entries.length - fileCount;
    ui.$("files-count").textContent = folderCount + " 个文件夹，" + fileCount + " 个文件";
    var writable = currentWritable();
    ui.$("files-upload").disabled = !writable;
    ui.$("files-mkdir").disabled = !writable;
    Page.transfers.showUploadTarget();
  }

  // The drive went away: its folders can no longer be opened, so nothing of it is shown
  // until it runs again.
  function clear() {
    trail = [ROOT];
    roots = [];
    writableRoots = {};
    entries = [];
    driveAway = true;
    renderTree();
    renderBreadcrumb();
    renderList();
  }

  function reload() {
    if (driveAway) return;  // a reading still due from before the drive went shows nothing
    loadRoots();
    entries = readEntries();  // a folder that went away elsewhere lists empty
    renderTree();
    renderBreadcrumb();
    renderList();
  }

  // The drive program rewrites its folder list shortly after every change; read it again a
  // few times so the change shows without a manual refresh.
  function reloadSoon() {
    reload();
    setTimeout(reload, 400);
    setTimeout(reload, 1500);
    setTimeout(reload, 4000);
  }

  // The drive runs (again): its lists are read as it writes them.
  function driveRunning() {
    driveAway = false;
    reloadSoon();
  }

  function openTrail(newTrail) {
    trail = newTrail;
    for (var i = 1; i < trail.length; i++) expanded[trail[i].id] = true;
    reload();
  }

  function openFolderById(id) {
    for (var i = 0; i < entries.length; i++) {
      if (entries[i].kind === "folder" && entries[i].id === id) {
        openTrail(trail.concat([{ id: id, name: entries[i].name }]));
        return true;
      }
    }
    return false;
  }

  // ---- operations

  function makeFolder() {
    if (!currentWritable()) return ui.error("这个文件夹是只读的，不能新建文件夹");
    ui.prompt("新建文件夹", "在“" + current().name + "”中新建文件夹：", "新建文件夹", function (name) {
      for (var i = 0; i < entries.length; i++) {
        if (entries[i].name === name) return ui.error("“" + name + "”已经存在");
      }
      var answer = bridge.call("mkdir", current().id, name);
      if (answer) {
        ui.ok("已新建文件夹“" + name + "”");
        reloadSoon();
      }
    });
  }

  function rename(entry) {
    if (isProtected(entry)) return ui.error("“" + entry.name + "”是网盘的顶层文件夹，不能重命名");
    ui.prompt("重命名", "新的名称：", ui.visible(entry.name), function (name) {
      if (name === entry.name || name === ui.visible(entry.name)) return;
      var answer = bridge.call("rename", entry.id, name);
      if (answer) {
        ui.ok("已重命名为“" + name + "”");
        for (var i = 1; i < trail.length; i++) {
          if (trail[i].id === entry.id) trail[i].name = name;
        }
        reloadSoon();
      }
    });
  }

  function remove(entry) {
    if (isProtected(entry)) return ui.error("“" + entry.name + "”是网盘的顶层文件夹，不能删除");
    var what = entry.kind === "folder" ? "文件夹（连同其中的全部内容）" : "文件";
    ui.confirm("删除", "确定要删除" + what + "“<b>" + ui.escapeHtml(entry.name) + "</b>”吗？删除后无法恢复。",
               "删除", function () {
      var answer = bridge.call("remove", entry.id, false);
      if (answer) {
        ui.ok("已删除“" + entry.name + "”");
        reloadSoon();
      }
    });
  }

  function refresh() {
    var answer = bridge.call("flushList");
    if (answer) ui.toast("正在刷新文件列表…");
    reloadSoon();
  }

  function download(entry) {
    var folder = bridge.call("getDefaultLocalSavePath");
    if (!folder) return;
    var target = String(folder.result || "").replace(/\/+$/, "") + "/" + entry.name;
    var url = Page.app.serviceBase() + "/download?id=" + encodeURIComponent(entry.id);
    var answer = bridge.call("addLocalDownloadTask", entry.id, url, target, Number(entry.size), true);
    if (answer) {
      ui.ok("已加入下载列表：" + entry.name);
      Page.transfers.poll();
    }
  }

  // Adds upload tasks for local paths into the open folder.
  function uploadPaths(paths) {
    if (!currentWritable()) {
      ui.error("请先打开一个可写入的文件夹（例如“我的空间”）再上传");
      return 0;
    }
    var added = 0;
    for (var i = 0; i < paths.length; i++) {
      if (bridge.call("addLocalUploadTask", paths[i], current().id, true)) added++;
    }
    if (added > 0) {
      ui.ok("已加入上传列表：" + added + " 个文件");
      Page.transfers.poll();
    }
    return added;
  }

  function chooseUploads() {
    if (!currentWritable()) return ui.error("请先打开一个可写入的文件夹（例如“我的空间”）再上传");
    var answer = bridge.call("getLocalFilePath");
    if (!answer || !answer.result) return;
    var paths = [];
    for (var i = 0; i < answer.result.length; i++) paths.push(answer.result[i].path);
    uploadPaths(paths);
  }

  function onRowAction(action, entry) {
    if (action === "enter") openFolderById(entry.id);
    else if (action === "play") bridge.call("play", entry.id);
    else if (action === "reveal") bridge.call("openFolder", entry.id);
    else if (action === "download") download(entry);
    else if (action === "rename") rename(entry);
    else if (action === "remove") remove(entry);
  }

  function init() {
    ui.$("files-mkdir").onclick = makeFolder;
    ui.$("files-refresh").onclick = refresh;
    ui.$("files-upload").onclick = chooseUploads;
    ui.$("files-open-drive").onclick = function () { bridge.call("openFolder", ""); };
    Page.sorting.attach(ui.$("file-table"), order, function () {
      entries = sortedEntries(entries);
      renderList();
    });
    ui.$("file-table").onclick = function (event) {
      var target = event.target;
      while (target && !target.getAttribute("data-action")) {
        if (target.tagName === "TABLE") return false;
        target = target.parentNode;
      }
      if (!target) return false;
      var row = target;
      while (row && row.tagName !== "TR") row = row.parentNode;
      var entry = row ? entries[Number(row.getAttribute("data-index"))] : null;
      if (entry) onRowAction(target.getAttribute("data-action"), entry);
      return false;
    };
  }

  return {
    init: init,
    reload: reload,
    reloadSoon: reloadSoon,
    clear: clear,
    driveRunning: driveRunning,
    openTrail: openTrail,
    openFolderById: openFolderById,
    uploadPaths: uploadPaths,
    entries: function () { return entries; },
    current: current,
    currentWritable: currentWritable,
    trailText: function () {
      var names = [];
      for (var i = 1; i < trail.length; i++) names.push(trail[i].name);
      return names.join(" / ");
    }
  };
})();
