"use strict";
// Filter and sort for every table of the page; without this script the
// tables are shown whole, in the order the command wrote them.
(() => {
  const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: "base" });
  for (const table of document.querySelectorAll("table")) {
    const body = table.tBodies[0];
    const rows = Array.from(body.rows);
    const texts = new Map(rows.map((row) => [row, row.textContent.toLowerCase()]));

    const box = document.createElement("p");
    box.className = "filter";
    const input = document.createElement("input");
    input.type = "search";
    input.placeholder = "Filter";
    input.setAttribute("aria-label", "Show only the rows that hold every word");
    const shown = document.createElement("span");
    box.append(input, " ", shown);
    table.before(box);
    const filter = () => {
      const words = input.value.toLowerCase().split(/\s+/).filter((w) => w !== "");
      let count = 0;
      for (const row of rows) {
        row.hidden = !words.every((w) => texts.get(row).includes(w));
        count += row.hidden ? 0 : 1;
      }
      shown.textContent = count + " of " + rows.length + (rows.length === 1 ? " row" : " rows");
    };
    input.addEventListener("input", filter);
    filter();

    const headings = Array.from(table.tHead.rows[0].cells);
    headings.forEach((th, column) => {
      const button = document.createElement("button");
      button.type = "button";
      button.append(...th.childNodes);
      th.append(button);
      button.addEventListener("click", () => {
        const up = th.getAttribute("aria-sort") !== "ascending";
        for (const other of headings) other.removeAttribute("aria-sort");
        th.setAttribute("aria-sort", up ? "ascending" : "descending");
        const key = (row) => row.cells[column].textContent;
        rows.sort((a, b) => (up ? 1 : -1) * collator.compare(key(a), key(b)));
        body.append(...rows);
      });
    });
  }
})();
