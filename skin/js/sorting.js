// Sorting of a list by one of its columns: a click on a column's header sorts by it, a second
// click on the same header reverses the order. Texts compare in language order, numbers by
// value; equal values keep a fixed order (by name, then by id), so rows never swap places
// between two readings of the same list.
Page.sorting = (function () {
  function compareValues(a, b) {
    if (typeof a === "number" && typeof b === "number") return a < b ? -1 : a > b ? 1 : 0;
    var x = String(a), y = String(b);
    var order = x.localeCompare(y);
    if (order !== 0) return order < 0 ? -1 : 1;
    return x < y ? -1 : x > y ? 1 : 0;
  }

  // A sorted copy of `items`. `valueOf(item, key)` gives an item's value in a column ("name"
  // and "id" included); `groupOf(item)`, when given, puts lower groups first in either order
  // (folders before files).
  function sorted(items, order, valueOf, groupOf) {
    var copy = items.slice();
    copy.sort(function (a, b) {
      if (groupOf) {
        var group = groupOf(a) - groupOf(b);
        if (group !== 0) return group;
      }
      var result = compareValues(valueOf(a, order.key), valueOf(b, order.key));
      if (result === 0) result = compareValues(valueOf(a, "name"), valueOf(b, "name"));
      if (result === 0) result = compareValues(valueOf(a, "id"), valueOf(b, "id"));
      return order.descending ? -result : result;
    });
    return copy;
  }

  function headers(table) {
    var found = [], cells = table.getElementsByTagName("th");
    for (var i = 0; i < cells.length; i++) {
      if (cells[i].getAttribute("data-sort")) found.push(cells[i]);
    }
    return found;
  }

  function mark(table, order) {
    var cells = headers(table);
    for (var i = 0; i < cells.length; i++) {
      var here = cells[i].getAttribute("data-sort") === order.key;
      cells[i].className = "sortable" + (here ? (order.descending ? " sorted descending" : " sorted") : "");
    }
  }

  // Makes the headers of `table` that carry "data-sort" sort `order` ({key, descending});
  // `onChange` shows the list again.
  function attach(table, order, onChange) {
    var cells = headers(table);
    for (var i = 0; i < cells.length; i++) {
      cells[i].onclick = function () {
        var key = this.getAttribute("data-sort");
        order.descending = order.key === key ? !order.descending : false;
        order.key = key;
        mark(table, order);
        onChange();
      };
    }
    mark(table, order);
  }

  return { sorted: sorted, attach: attach };
})();
