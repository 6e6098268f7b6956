// The review page: annotate pasted or dropped texts through the service,
// show every hit highlighted, let the reader mark hits excluded or remove
// them, and export what remains. Text from the note or the service only ever
// reaches the page through textContent and attribute values, never as markup.
"use strict";

const HPO_BROWSER = "https://hpo.jax.org/browse/term/";
// Embedding, override and isolate controls would reorder the highlighted text.
const BIDI_CONTROLS = /[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069]/;

const state = { release: "", documents: [], files: [] };

function element(tag, attributes = {}, text = null) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  if (text !== null) node.textContent = text;
  return node;
}

function termLink(termId) {
  return element("a", { href: HPO_BROWSER + termId, target: "_blank", rel: "noopener noreferrer" },
                 termId);
}

function setStatus(message, isError = false) {
  const status = document.getElementById("status");
  status.textContent = message;
  status.classList.toggle("error", isError);
}

// Appends `text` to `parent`, every bidirectional control shown as a marker.
function appendText(parent, text) {
  let rest = text;
  let match;
  while ((match = BIDI_CONTROLS.exec(rest)) !== null) {
    parent.append(rest.slice(0, match.index));
    const code = match[0].codePointAt(0).toString(16).toUpperCase().padStart(4, "0");
    parent.append(element("span", { class: "bidi", title: "bidirectional control" }, "U+" + code));
    rest = rest.slice(match.index + 1);
  }
  parent.append(rest);
}

// The categories an assertion sets, as the page names them.
const ASSERTION_FLAGS = [["is_negated", "negated"], ["is_uncertain", "uncertain"],
                         ["is_historical", "historical"], ["is_hypothetical", "hypothetical"],
                         ["is_family", "family member"]];
// The categories a highlight shows beyond negation, and the class of each.
const STATUS_CLASSES = [["is_uncertain", "uncertain"], ["is_historical", "historical"],
                        ["is_hypothetical", "hypothetical"], ["is_family", "family"]];

// What every format counts as negated: the assertion's negation, else the library's flag.
function negated(record) {
  return record.assertion ? record.assertion.is_negated : record.excluded;
}

function setNegated(record, value) {
  if (record.assertion) record.assertion.is_negated = value;
  else record.excluded = value;
}

function showStatus() {
  return document.getElementById("show-status").checked;
}

function describe(record) {
  const name = record.term_label ?? record.label;
  const matched = record.term_label !== null && record.term_label !== record.label
    ? ` (matched "${record.label}")` : "";
  const context = record.assertion
    ? ASSERTION_FLAGS.filter(([flag]) => record.assertion[flag]).map(([, word]) => word) : [];
  const triggers = record.assertion ? record.assertion.modifiers.map((m) => `"${m.text}"`) : [];
  return `${record.term_id} ${name}${matched}${negated(record) ? " (excluded)" : ""}` +
    (context.length ? ` [context: ${context.join(", ")}; ${triggers.join(", ")}]` : "");
}

// The text cut at every hit boundary (char_span counts code points), each
// piece with the records covering it, as the report does.
function segments(text, records) {
  const points = Array.from(text);
  const placed = records.filter((r) => r.char_span !== null)
    .sort((a, b) => a.char_span[0] - b.char_span[0]);
  const cuts = new Set([0, points.length]);
  for (const r of placed) { cuts.add(r.char_span[0]); cuts.add(r.char_span[1]); }
  const sorted = [...cuts].sort((a, b) => a - b);
  const pieces = [];
  for (let i = 0; i + 1 < sorted.length; i++) {
    const [begin, end] = [sorted[i], sorted[i + 1]];
    const covering = placed.filter((r) => r.char_span[0] <= begin && r.char_span[1] >= end);
    pieces.push({ text: points.slice(begin, end).join(""), covering });
  }
  return pieces;
}

function highlight(piece, doc) {
  const { covering } = piece;
  if (covering.length === 0) {
    const span = document.createDocumentFragment();
    appendText(span, piece.text);
    return span;
  }
  const classes = ["hit"];
  if (covering.length > 1) classes.push("overlap");
  if (covering.every(negated)) classes.push("excluded");
  if (showStatus()) {
    for (const [flag, css] of STATUS_CLASSES) {
      if (covering.every((r) => r.assertion && r.assertion[flag])) classes.push(css);
    }
  }
  const span = element("span", {
    class: classes.join(" "),
    title: covering.map(describe).join("\n"),
    "data-terms": [...new Set(covering.map((r) => r.term_id))].join(" "),
    tabindex: "0",
    role: "button",
  });
  appendText(span, piece.text);
  const open = (event) => { event.stopPropagation(); openMenu(span, covering, doc); };
  span.addEventListener("click", open);
  span.addEventListener("keydown", (event) => { if (event.key === "Enter") open(event); });
  return span;
}

function closeMenu() {
  const menu = document.getElementById("menu");
  menu.hidden = true;
  menu.replaceChildren();
}

function openMenu(anchor, records, doc) {
  const menu = document.getElementById("menu");
  menu.replaceChildren();
  for (const record of records) {
    const entry = element("div", { class: "entry" });
    entry.append(termLink(record.term_id), " ", record.term_label ?? record.label);
    const actions = element("div");
    const toggle = element("button", { type: "button", class: "toggle" },
                           negated(record) ? "Mark present" : "Mark excluded");
    toggle.addEventListener("click", () => { setNegated(record, !negated(record)); review(doc); });
    const remove = element("button", { type: "button", class: "remove" }, "Remove");
    remove.addEventListener("click", () => { record.removed = true; review(doc); });
    actions.append(toggle, remove);
    entry.append(actions);
    menu.append(entry);
  }
  const box = anchor.getBoundingClientRect();
  menu.style.left = `${window.scrollX + box.left}px`;
  menu.style.top = `${window.scrollY + box.bottom + 4}px`;
  menu.hidden = false;
}

function review(doc) {
  closeMenu();
  renderDocument(doc);
}

function summary(records) {
  const terms = new Map();
  for (const r of records) {
    if (!terms.has(r.term_id)) terms.set(r.term_id, []);
    terms.get(r.term_id).push(r);
  }
  const rows = [...terms.entries()].map(([termId, mentions]) => ({
    termId, mentions, excluded: mentions.filter(negated).length,
  }));
  // Present terms first, then those whose every mention is excluded.
  rows.sort((a, b) => (a.excluded === a.mentions.length) - (b.excluded === b.mentions.length));
  const table = element("table", { class: "summary" });
  table.append(element("caption", {}, "Terms in this document: present first, then excluded"));
  const head = element("tr");
  for (const [name, css] of [["Term", ""], ["Label", ""], ["Mentions", "count"],
                             ["Excluded", "count"], ["Text", ""]]) {
    head.append(element("th", css ? { class: css } : {}, name));
  }
  const thead = element("thead");
  thead.append(head);
  table.append(thead);
  const body = element("tbody");
  for (const row of rows) {
    const tr = element("tr", row.excluded === row.mentions.length ? { class: "excluded" } : {});
    const term = element("td");
    term.append(termLink(row.termId));
    const labels = [...new Set(row.mentions.map((r) => r.term_label ?? r.label))].join(", ");
    const texts = [...new Set(row.mentions.map((r) => r.text.split(/\s+/).join(" ")))].join("; ");
    const label = element("td");
    appendText(label, labels);
    const text = element("td");
    appendText(text, texts);
    tr.append(term, label, element("td", { class: "count" }, String(row.mentions.length)),
              element("td", { class: "count" }, String(row.excluded)), text);
    body.append(tr);
  }
  table.append(body);
  return table;
}

function renderDocument(doc) {
  const kept = doc.records.filter((r) => !r.removed);
  const excluded = kept.filter(negated).length;
  const removed = doc.records.length - kept.length;
  const counts = `${kept.length} hits, ${excluded} excluded, ` +
    `${new Set(kept.map((r) => r.term_id)).size} distinct terms` +
    (removed ? `, ${removed} removed in review` : "");
  const text = element("div", { class: "text" });
  for (const piece of segments(doc.text, kept)) text.append(highlight(piece, doc));
  const heading = element("h2");
  appendText(heading, doc.id);
  const parts = [heading, element("p", { class: "counts" }, counts), text];
  const unplaced = kept.filter((r) => r.char_span === null);
  if (unplaced.length) {
    parts.push(element("p", { class: "unplaced" }, "Not highlighted, because their byte " +
      "offsets do not map onto characters of this text: " + unplaced.map(describe).join("; ")));
  }
  parts.push(kept.length ? summary(kept) : element("p", {}, "No HPO concepts found."));
  doc.section.replaceChildren(...parts);
}

function renderAll() {
  const container = document.getElementById("documents");
  container.replaceChildren();
  state.documents.forEach((doc, n) => {
    doc.section = element("section", { class: "document", id: `doc-${n + 1}` });
    container.append(doc.section);
    renderDocument(doc);
  });
  document.getElementById("results").hidden = false;
}

function inputDocuments() {
  const documents = state.files.map((f) => ({ id: f.name, text: f.text }));
  const note = document.getElementById("note").value;
  if (note.trim() !== "") documents.unshift({ id: "note", text: note });
  return documents;
}

async function errorOf(response) {
  try {
    return (await response.json()).error ?? response.statusText;
  } catch {
    return `${response.status} ${response.statusText}`;
  }
}

async function annotate() {
  const documents = inputDocuments();
  if (documents.length === 0) {
    setStatus("Paste a note or drop text files first.", true);
    return;
  }
  setStatus("Annotating…");
  const request = { documents, longest: document.getElementById("longest").checked };
  const response = await fetch("v1/annotate", {
    method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(request),
  });
  if (!response.ok) {
    setStatus(`The service refused: ${await errorOf(response)}`, true);
    return;
  }
  const answer = await response.json();
  state.release = answer.release;
  state.documents = answer.documents.map((doc, n) => ({
    id: doc.id, text: documents[n].text,
    records: doc.records.map((r) => ({ ...r, removed: false })),
  }));
  renderAll();
  const hits = state.documents.reduce((sum, d) => sum + d.records.length, 0);
  setStatus(`${state.documents.length} documents, ${hits} hits.`);
}

function reviewed() {
  return state.documents.map((doc) => ({
    id: doc.id, text: doc.text,
    records: doc.records.filter((r) => !r.removed).map(({ removed, ...record }) => record),
  }));
}

function download(name, type, content) {
  const link = element("a", { href: URL.createObjectURL(new Blob([content], { type })),
                              download: name });
  document.body.append(link);
  link.click();
  link.remove();
}

async function exportAs(format, name, type) {
  const documents = reviewed();
  if (format === "json") {
    const body = { release: state.release,
                   documents: documents.map(({ id, records }) => ({ id, records })) };
    download(name, type, JSON.stringify(body, null, 2) + "\n");
    return;
  }
  const response = await fetch(`v1/render?format=${format}`, {
    method: "POST", headers: { "Content-Type": "application/json" },
    body: JSON.stringify({ documents }),
  });
  if (!response.ok) {
    setStatus(`Export failed: ${await errorOf(response)}`, true);
    return;
  }
  download(name, type, await response.text());
  setStatus(`Exported ${name}.`);
}

function addFiles(fileList) {
  for (const file of fileList) {
    const reader = new FileReader();
    reader.addEventListener("load", () => {
      state.files.push({ name: file.name, text: String(reader.result) });
      showFiles();
    });
    reader.addEventListener("error", () => setStatus(`Cannot read ${file.name}.`, true));
    reader.readAsText(file);
  }
}

function showFiles() {
  const list = document.getElementById("files");
  list.replaceChildren(...state.files.map((file, n) => {
    const item = element("li", {}, file.name);
    const remove = element("button", { type: "button", title: "leave this file out" }, "×");
    remove.addEventListener("click", () => { state.files.splice(n, 1); showFiles(); });
    item.append(remove);
    return item;
  }));
}

async function showRelease() {
  const response = await fetch("v1/release");
  if (response.ok) {
    const release = await response.json();
    document.getElementById("release").textContent =
      `HPO release ${release.version}, ${release.hp_terms} terms`;
  }
}

function guarded(work) {
  return () => work().catch((error) => setStatus(`Failed: ${error.message}`, true));
}

document.addEventListener("DOMContentLoaded", () => {
  const note = document.getElementById("note");
  note.addEventListener("dragover", (event) => { event.preventDefault(); note.classList.add("dropping"); });
  note.addEventListener("dragleave", () => note.classList.remove("dropping"));
  note.addEventListener("drop", (event) => {
    event.preventDefault();
    note.classList.remove("dropping");
    addFiles(event.dataTransfer.files);
  });
  document.getElementById("file-input").addEventListener("change", (event) => {
    addFiles(event.target.files);
    event.target.value = "";
  });
  document.getElementById("annotate").addEventListener("click", guarded(annotate));
  const status = document.getElementById("show-status");
  const showLegend = () => { document.getElementById("status-legend").hidden = !status.checked; };
  status.addEventListener("change", () => {
    showLegend();
    closeMenu();
    state.documents.forEach(renderDocument);
  });
  showLegend();
  const exports = [["phenopacket", "phenopackets.jsonl", "application/x-ndjson"],
                   ["tsv", "hits.tsv", "text/tab-separated-values"],
                   ["json", "hits.json", "application/json"]];
  for (const [format, name, type] of exports) {
    document.getElementById(`export-${format}`)
      .addEventListener("click", guarded(() => exportAs(format, name, type)));
  }
  document.addEventListener("click", (event) => {
    if (!document.getElementById("menu").contains(event.target)) closeMenu();
  });
  document.addEventListener("keydown", (event) => { if (event.key === "Escape") closeMenu(); });
  guarded(showRelease)();
});
