// sensor-watch's dashboard: polls /api/status once a second, fetches
// /api/snapshot when a new snapshot has been recorded, and updates the page in
// place. The rows are built again only when the set of readings changes; an
// ordinary update rewrites the text of the cells that changed, the points of
// the sparklines in view and the data of the charts. Every name, label and
// value goes into the page as text (textContent or a text node), never as
// markup.
"use strict";

const pollMilliseconds = 1000;
// Points in a sparkline: about the last two minutes.
const sparkPoints = 120;
// Points in a chart: as many as sensor-watch keeps.
const chartPoints = 1000;
const palette = ["#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#17becf"];

// Reading id -> {id, type, search, cells, spark: numbers, canvas, visible, dirty}.
const readings = new Map();
// Reading type -> {type, ids, times, values: Map id -> numbers, plot, box, sequence}.
const charts = new Map();
const picked = new Set();
// Reading type -> unit symbol, as sensor-watch sends them (none with --no-units).
let units = {};
let layout = "";
let shownSequence = -1;
let drawScheduled = false;

const element = (tag, className, text) => {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
};

// Numbers with at most three decimals; the published text for the rest
// ("inf", "nan", or whatever the bridge wrote).
const formatted = (number, fallback) => {
  if (number === null || number === undefined) return fallback;
  return Number.isInteger(number) ? String(number) : String(Math.round(number * 1000) / 1000);
};

const getJson = async (path) => {
  const response = await fetch(path, { cache: "no-store" });
  if (!response.ok) throw new Error(`${path}: HTTP ${response.status}`);
  return response.json();
};

// Visible sparklines are drawn, in one animation frame for all of them.
const sparkObserver = new IntersectionObserver((entries) => {
  for (const entry of entries) {
    const reading = readings.get(Number(entry.target.dataset.id));
    if (!reading) continue;
    reading.visible = entry.isIntersecting;
  }
  scheduleDraw();
});

function scheduleDraw() {
  if (drawScheduled) return;
  drawScheduled = true;
  requestAnimationFrame(() => {
    drawScheduled = false;
    for (const reading of readings.values())
      if (reading.visible && reading.dirty) drawSpark(reading);
  });
}

function drawSpark(reading) {
  reading.dirty = false;
  const canvas = reading.canvas;
  const scale = window.devicePixelRatio || 1;
  const width = 120 * scale;
  const height = 22 * scale;
  if (canvas.width !== width) {
    canvas.width = width;
    canvas.height = height;
  }
  const context = canvas.getContext("2d");
  context.clearRect(0, 0, width, height);
  const points = reading.spark;
  const finite = points.filter((value) => value !== null);
  if (finite.length === 0) return;
  const low = Math.min(...finite);
  const high = Math.max(...finite);
  const span = high - low || 1;
  // Spread over the width: a reading that appeared a moment ago shows what
  // it has so far.
  const step = width / Math.max(points.length - 1, 1);
  context.strokeStyle = palette[0];
  context.lineWidth = scale;
  context.beginPath();
  let drawing = false;
  points.forEach((value, index) => {
    if (value === null) {
      drawing = false;
      return;
    }
    const x = index * step;
    const y = height - scale - ((value - low) / span) * (height - 2 * scale);
    if (drawing) context.lineTo(x, y);
    else context.moveTo(x, y);
    drawing = true;
  });
  context.stroke();
}

// One reading's row: its pick box, label, type, the cells that updateText
// fills, and its sparkline, which keeps the points it had before the layout
// was built again.
function readingRow(body, sensor, section, reading, kept) {
  const row = body.insertRow();
  row.dataset.id = reading.id;
  const pick = element("input");
  pick.type = "checkbox";
  pick.title = "chart this reading";
  pick.checked = picked.has(reading.id);
  pick.addEventListener("change", () => togglePick(reading.id, pick.checked));
  row.insertCell().append(pick);
  row.cells[0].className = "pick";
  row.append(element("td", "label", reading.label), element("td", "type", reading.type));
  const cells = {};
  for (const name of ["value", "min", "max", "average"]) {
    const cell = element("td", `${name} number`);
    cells[name] = document.createTextNode("");
    cell.append(cells[name]);
    row.append(cell);
  }
  const canvas = element("canvas", "spark");
  canvas.dataset.id = reading.id;
  row.insertCell().append(canvas);
  const before = kept.get(reading.id);
  readings.set(reading.id, {
    id: reading.id,
    type: reading.type,
    search: `${sensor.name}\n${reading.label}`.toLowerCase(),
    sensor: section,
    row,
    cells,
    canvas,
    spark: before ? before.spark : [],
    visible: false,
    dirty: true,
  });
  sparkObserver.observe(canvas);
}

// One sensor's section: its name, and a table of its readings or a line that
// says it has none. Adds the readings' types to `types`.
function sensorSection(sensor, kept, types) {
  const section = element("section", "sensor");
  section.append(element("h2", "", sensor.name));
  if (sensor.noReading || sensor.readings.length === 0) {
    section.append(element("p", "", sensor.noReading ? "no valid reading" : "no readings"));
    return section;
  }
  const table = element("table");
  const head = table.createTHead().insertRow();
  for (const title of ["", "label", "type", "value", "min", "max", "average", "history"])
    head.append(element("th", "", title));
  const body = table.createTBody();
  for (const reading of sensor.readings) {
    types.add(reading.type);
    readingRow(body, sensor, section, reading, kept);
  }
  section.append(table);
  return section;
}

// The type filter's choices: all, then each type shown, keeping the choice
// while its type is still there.
function fillTypeFilter(types) {
  const select = document.getElementById("type-filter");
  const chosen = select.value;
  const options = [element("option", "", "all")];
  options[0].value = "";
  for (const type of [...types].sort()) {
    const option = element("option", "", type);
    option.value = type;
    options.push(option);
  }
  select.replaceChildren(...options);
  select.value = types.has(chosen) ? chosen : "";
}

// Builds the rows for the snapshot's readings, keeping the sparkline points
// of readings that were there before.
function buildLayout(snapshot) {
  const main = document.getElementById("sensors");
  sparkObserver.disconnect();
  const kept = new Map(readings);
  readings.clear();
  const fragment = document.createDocumentFragment();
  const types = new Set();
  for (const sensor of snapshot.sensors) fragment.append(sensorSection(sensor, kept, types));
  main.replaceChildren(fragment);
  for (const id of [...picked]) if (!readings.has(id)) togglePick(id, false);
  fillTypeFilter(types);
  applyFilters();
}

function applyFilters() {
  const type = document.getElementById("type-filter").value;
  const text = document.getElementById("text-filter").value.trim().toLowerCase();
  const shown = new Map();
  for (const reading of readings.values()) {
    const match = (type === "" || reading.type === type) && (text === "" || reading.search.includes(text));
    reading.row.hidden = !match;
    shown.set(reading.sensor, shown.get(reading.sensor) || match);
  }
  for (const section of document.querySelectorAll("#sensors > .sensor")) {
    // A sensor without readings is shown only while nothing narrows the list.
    section.hidden = shown.has(section) ? !shown.get(section) : type !== "" || text !== "";
  }
}

function updateText(node, text) {
  if (node.data !== text) node.data = text;
}

function applySnapshot(snapshot) {
  units = snapshot.units || {};
  const key = snapshot.sensors
    .map((sensor) => `${sensor.name}\u0000${sensor.readings.map((reading) => reading.id).join(",")}`)
    .join("\u0001");
  if (key !== layout) {
    layout = key;
    buildLayout(snapshot);
  }
  const advanced = snapshot.sequence !== shownSequence;
  shownSequence = snapshot.sequence;
  let count = 0;
  for (const sensor of snapshot.sensors) {
    for (const entry of sensor.readings) {
      ++count;
      const reading = readings.get(entry.id);
      if (!reading) continue;
      // The texts in the type's unit that sensor-watch sends; with --no-units
      // it sends none, and the numbers are rounded here.
      const shown = entry.shown || {
        value: formatted(entry.number, entry.value),
        min: formatted(entry.min, null),
        max: formatted(entry.max, null),
        average: formatted(entry.average, null),
      };
      updateText(reading.cells.value, shown.value);
      for (const name of ["min", "max", "average"]) updateText(reading.cells[name], shown[name] ?? "-");
      if (advanced) {
        reading.spark.push(entry.number);
        if (reading.spark.length > sparkPoints) reading.spark.shift();
        reading.dirty = true;
      }
    }
  }
  if (advanced) appendToCharts(snapshot);
  const time = new Date(snapshot.time * 1000).toLocaleTimeString();
  updateText(
    summaryNode(),
    snapshot.sequence === 0
      ? "waiting for the first snapshot"
      : `${snapshot.sensors.length} sensors, ${count} readings, snapshot of ${time}`,
  );
  scheduleDraw();
}

function summaryNode() {
  const summary = document.getElementById("summary");
  if (!summary.firstChild) summary.append(document.createTextNode(""));
  return summary.firstChild;
}

function showStatus(status, problem) {
  const stale = document.getElementById("stale");
  let text = "";
  if (problem) text = `stale: sensor-watch does not answer (${problem})`;
  else if (status.sequence === 0) text = "stale: no snapshot yet";
  else if (status.old) text = "stale: this snapshot was in the block before sensor-watch looked";
  else if (!status.fresh) text = `stale: no new snapshot for ${Math.round(status.age)} s`;
  stale.textContent = text;
  stale.hidden = text === "";
  document.body.classList.toggle("stale", text !== "");
}

// The charts: one per type, each with the picked readings of that type.
function chartFor(type) {
  let chart = charts.get(type);
  if (!chart) {
    const box = element("div", "chart");
    box.dataset.type = type;
    box.append(element("h3", "", units[type] ? `${type} (${units[type]})` : type));
    document.getElementById("charts").append(box);
    chart = { type, ids: [], times: [], values: new Map(), plot: null, box, sequence: -1 };
    charts.set(type, chart);
  }
  return chart;
}

function labelOf(id) {
  const reading = readings.get(id);
  if (!reading) return String(id);
  const sensor = reading.sensor.querySelector("h2").textContent;
  return `${reading.row.cells[1].textContent} (${sensor})`;
}

function drawChart(chart) {
  if (chart.plot) chart.plot.destroy();
  chart.plot = null;
  if (chart.ids.length === 0) {
    chart.box.remove();
    charts.delete(chart.type);
    return;
  }
  const series = [{}].concat(
    chart.ids.map((id, index) => ({
      label: labelOf(id),
      stroke: palette[index % palette.length],
      width: 1.5,
      spanGaps: false,
    })),
  );
  const width = Math.max(chart.box.clientWidth - 16, 300);
  chart.plot = new uPlot({ width, height: 240, series, legend: { live: true } }, chartData(chart), chart.box);
}

function chartData(chart) {
  return [chart.times].concat(chart.ids.map((id) => chart.values.get(id)));
}

async function loadChart(chart) {
  const history = await getJson(`/api/history?points=${chartPoints}&ids=${chart.ids.join(",")}`);
  chart.sequence = history.sequence;
  chart.times = history.times;
  chart.values = new Map();
  for (const id of chart.ids) chart.values.set(id, new Array(history.times.length).fill(null));
  for (const entry of history.readings) {
    if (!chart.values.has(entry.id)) continue;
    const padded = new Array(history.times.length - entry.values.length).fill(null).concat(entry.values);
    chart.values.set(entry.id, padded);
  }
  drawChart(chart);
}

function togglePick(id, on) {
  const reading = readings.get(id);
  const type = reading ? reading.type : [...charts.values()].find((chart) => chart.ids.includes(id))?.type;
  if (on) picked.add(id);
  else picked.delete(id);
  if (type === undefined) return;
  const chart = chartFor(type);
  chart.ids = chart.ids.filter((other) => other !== id);
  if (on) chart.ids.push(id);
  document.getElementById("charts-hint").hidden = picked.size > 0;
  if (on) loadChart(chart).catch(() => {});
  else {
    chart.values.delete(id);
    drawChart(chart);
  }
}

function appendToCharts(snapshot) {
  if (charts.size === 0) return;
  const numbers = new Map();
  for (const sensor of snapshot.sensors)
    for (const entry of sensor.readings) numbers.set(entry.id, entry.number);
  for (const chart of charts.values()) {
    if (!chart.plot || snapshot.sequence <= chart.sequence) continue;
    chart.sequence = snapshot.sequence;
    chart.times.push(snapshot.time);
    for (const id of chart.ids) chart.values.get(id).push(numbers.has(id) ? numbers.get(id) : null);
    if (chart.times.length > chartPoints) {
      chart.times.shift();
      for (const values of chart.values.values()) values.shift();
    }
    chart.plot.setData(chartData(chart));
  }
}

async function seedSparklines() {
  const history = await getJson(`/api/history?points=${sparkPoints}`);
  for (const entry of history.readings) {
    const reading = readings.get(entry.id);
    if (reading) {
      reading.spark = entry.values.slice(-sparkPoints);
      reading.dirty = true;
    }
  }
  scheduleDraw();
}

async function poll() {
  try {
    const status = await getJson("/api/status");
    showStatus(status, "");
    if (status.sequence !== shownSequence) applySnapshot(await getJson("/api/snapshot"));
  } catch (error) {
    showStatus(null, error.message);
  }
  setTimeout(poll, pollMilliseconds);
}

async function start() {
  document.getElementById("type-filter").addEventListener("change", applyFilters);
  document.getElementById("text-filter").addEventListener("input", applyFilters);
  window.addEventListener("resize", () => {
    for (const chart of charts.values())
      if (chart.plot) chart.plot.setSize({ width: Math.max(chart.box.clientWidth - 16, 300), height: 240 });
  });
  try {
    applySnapshot(await getJson("/api/snapshot"));
    await seedSparklines();
  } catch (error) {
    showStatus(null, error.message);
  }
  poll();
}

start();
