#include "operatorPage.h"

namespace azs_apps {

namespace {

const char* const PAGE = R"page(<!DOCTYPE html>
<html lang="ru">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>АЗС: состояние станции</title>
<style>
:root { --bg:#f4f5f7; --card:#fff; --line:#d9dce1; --text:#1d2430; --dim:#667085; --warn:#b42318;
        --warnbg:#fef3f2; --ok:#067647; }
* { box-sizing: border-box; }
body { margin: 0; font: 15px/1.4 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif;
       background: var(--bg); color: var(--text); }
header { display: flex; flex-wrap: wrap; gap: .5em 1.5em; align-items: baseline; padding: .8em 1em;
         background: #1d2430; color: #fff; }
header h1 { font-size: 1.15em; margin: 0; }
header span { color: #c8ccd4; font-size: .9em; }
main { padding: .8em; max-width: 1200px; margin: 0 auto; }
section { background: var(--card); border: 1px solid var(--line); border-radius: 6px; margin-bottom: .8em;
          padding: .6em .8em; }
h2 { font-size: 1em; margin: .1em 0 .5em; }
#warnings { list-style: none; margin: 0 0 .8em; padding: 0; }
#warnings li { background: var(--warnbg); color: var(--warn); border: 1px solid #fda29b; border-radius: 6px;
               padding: .6em .8em; margin-bottom: .4em; font-weight: 600; }
table { width: 100%; border-collapse: collapse; }
th, td { text-align: left; padding: .35em .5em; border-bottom: 1px solid var(--line); vertical-align: top; }
th { color: var(--dim); font-weight: 600; font-size: .85em; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
.empty { color: var(--dim); }
.bad { color: var(--warn); font-weight: 600; }
.good { color: var(--ok); font-weight: 600; }
dl { display: grid; grid-template-columns: max-content 1fr; gap: .2em 1em; margin: 0; }
dt { color: var(--dim); }
dd { margin: 0; }
#errors { font: 12px/1.35 ui-monospace, Menlo, Consolas, monospace; white-space: pre-wrap; word-break: break-all;
          margin: 0; max-height: 22em; overflow: auto; }
@media (max-width: 700px) {
  table, tbody, tr, td { display: block; width: 100%; }
  thead { display: none; }
  tr { border: 1px solid var(--line); border-radius: 6px; margin-bottom: .5em; padding: .3em .5em; }
  td { border: 0; padding: .15em 0; display: flex; justify-content: space-between; gap: 1em; text-align: right; }
  td::before { content: attr(data-label); color: var(--dim); text-align: left; }
  td.num { text-align: right; }
}
</style>
</head>
<body>
<header><h1>Состояние АЗС</h1><span id="updated">загрузка…</span></header>
<main>
<ul id="warnings"></ul>
<section><h2>ТРК</h2>
<table id="pumps"><thead><tr><th>ТРК</th><th>Статус</th><th>Пистолет</th><th>Продукт</th><th>Литры</th>
<th>Сумма</th><th>Блокировка</th><th>Заказ</th><th>Возраст метки</th></tr></thead><tbody></tbody></table>
</section>
<section><h2>Заказы на обслуживании</h2>
<table id="orders"><thead><tr><th>Заказ</th><th>ТРК</th><th>Этап</th><th>Литры</th><th>Возраст</th></tr></thead>
<tbody></tbody></table>
</section>
<section><h2>Уведомления, не принятые платформой</h2>
<table id="notices"><thead><tr><th>Заказ</th><th>Вид</th><th>Состояние</th><th>Попытки</th><th>Последний ответ</th>
<th>Следующая попытка</th></tr></thead><tbody></tbody></table>
</section>
<section><h2>Связь</h2>
<dl>
<dt>Контроллер</dt><dd id="controller">—</dd>
<dt>Последний обмен</dt><dd id="round-trip">—</dd>
<dt>Таблица состояния ТРК</dt><dd id="table-age">—</dd>
<dt>Файл состояния</dt><dd id="state-file">—</dd>
</dl>
</section>
<section><h2>Последние ошибки</h2><pre id="errors"></pre></section>
</main>
<script>
"use strict";
const KINDS = { complete: "завершение", cancel: "отмена" };
const STATES = { pending: "ожидает", abandoned: "отправка прекращена" };
const STAGES = { reserved: "зарезервирована", serving: "налив", completing: "завершение",
                 cancelling: "отмена" };

function age(sec) {
  if (sec === null || sec === undefined || sec < 0) return "—";
  if (sec < 120) return sec + " с";
  if (sec < 7200) return Math.floor(sec / 60) + " мин";
  return Math.floor(sec / 3600) + " ч";
}
function clock(epoch) {
  if (!epoch) return "—";
  return new Date(epoch * 1000).toLocaleString("ru-RU");
}
function fixed(v, digits) { return Number(v).toFixed(digits); }

// One row per item; the cells are replaced as text, the rows kept where their key stays.
function fill(table, items, key, cells, labels) {
  const body = document.querySelector("#" + table + " tbody");
  const columns = labels.length;
  if (items.length === 0) {
    body.replaceChildren();
    const tr = body.insertRow();
    const td = tr.insertCell();
    td.colSpan = columns;
    td.className = "empty";
    td.textContent = "нет";
    return;
  }
  const old = new Map();
  for (const tr of Array.from(body.rows)) if (tr.dataset.key) old.set(tr.dataset.key, tr);
  const rows = items.map((item) => {
    const k = String(key(item));
    let tr = old.get(k);
    if (!tr) {
      tr = document.createElement("tr");
      tr.dataset.key = k;
      labels.forEach((label) => { const td = tr.insertCell(); td.dataset.label = label; });
    }
    cells(item).forEach((c, i) => {
      const td = tr.cells[i];
      const text = String(c.text);
      if (td.textContent !== text) td.textContent = text;
      td.className = c.cls || "";
    });
    return tr;
  });
  body.replaceChildren(...rows);
}

function labelsOf(table) {
  return Array.from(document.querySelectorAll("#" + table + " thead th")).map((th) => th.textContent);
}

function show(s) {
  const warnings = document.getElementById("warnings");
  warnings.replaceChildren(...s.warnings.map((w) => {
    const li = document.createElement("li");
    li.dataset.check = w.check;
    li.textContent = w.text;
    return li;
  }));
  fill("pumps", s.pumps, (p) => p.number, (p) => [
    { text: p.number },
    { text: p.status + " " + p.statusText, cls: p.status <= 1 ? "bad" : "" },
    { text: p.nozzle || "—", cls: "num" },
    { text: p.productName ? p.product + " " + p.productName : (p.product || "—") },
    { text: fixed(p.litres, 2), cls: "num litres" },
    { text: fixed(p.money, 2), cls: "num" },
    { text: p.blocked ? "да" : "нет", cls: p.blocked ? "bad" : "" },
    { text: p.order === null ? "—" : p.order + " (" + p.client + ")" },
    { text: p.order === null ? "—" : age(p.tagAgeSec) },
  ], labelsOf("pumps"));
  fill("orders", s.orders, (o) => o.order, (o) => [
    { text: o.order }, { text: o.pump }, { text: STAGES[o.stage] || o.stage },
    { text: fixed(o.litres, 2), cls: "num litres" }, { text: age(o.ageSec) },
  ], labelsOf("orders"));
  fill("notices", s.notices, (n) => n.order + "/" + n.kind, (n) => [
    { text: n.order }, { text: KINDS[n.kind] || n.kind },
    { text: STATES[n.state] || n.state, cls: n.state === "abandoned" ? "bad" : "" },
    { text: n.attempts, cls: "num" }, { text: n.lastAnswer || "—", cls: "num" },
    { text: n.state === "pending" ? clock(n.nextAttemptAt) : "—" },
  ], labelsOf("notices"));
  const c = s.controller;
  const link = document.getElementById("controller");
  link.textContent = !c.probed ? "проверяется…" : (c.connected ? "есть связь" : "нет связи") + ", " + c.address;
  link.className = c.probed && !c.connected ? "bad" : (c.connected ? "good" : "");
  document.getElementById("round-trip").textContent =
    c.connected ? fixed(c.roundTripMs, 1) + " мс, " + age(c.checkedAgoSec) + " назад" : "—";
  const t = s.pumpTable;
  const table = document.getElementById("table-age");
  table.textContent = !t.attached ? "нет доступа" : t.ageSec < 0 ? "монитор ТРК остановлен"
                    : "обновлена " + age(t.ageSec) + " назад" + (t.fresh ? "" : " (устарела)");
  table.className = t.attached && t.fresh ? "good" : "bad";
  const file = document.getElementById("state-file");
  file.textContent = s.stateFileWritable ? "запись возможна" : "запись невозможна";
  file.className = s.stateFileWritable ? "good" : "bad";
  const errors = s.errors.join("\n") || "нет";
  const pre = document.getElementById("errors");
  if (pre.textContent !== errors) pre.textContent = errors;
  document.getElementById("updated").textContent = "обновлено " + new Date(s.time * 1000).toLocaleTimeString("ru-RU");
}

async function refresh() {
  try {
    const answer = await fetch("status.json", { cache: "no-store" });
    if (!answer.ok) throw new Error("HTTP " + answer.status);
    show(await answer.json());
  } catch (e) {
    document.getElementById("updated").textContent = "нет ответа от fuelweb (" + e.message + ")";
  }
  setTimeout(refresh, 1000);
}
refresh();
</script>
</body>
</html>
)page";

}  // namespace

const std::string& operatorPage()
{
    static const std::string page(PAGE);
    return page;
}

}  // namespace azs_apps
