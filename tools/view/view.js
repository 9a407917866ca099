// ozr-view's page: reads the frame stream (see view_frame.h for the message
// layout), colours the images, shows statistics and the values under the
// mouse, draws the 3-D point cloud and drives the camera's controls.
"use strict";
(() => {
  const FIRST_CODE = 64000;
  const HEADER_MAGIC = "OZRV";
  const MAX_MESSAGE = 64 << 20;
  const MODE_NAMES = {0: "dist-amp", 1: "grayscale", 2: "hdr", 4: "dcs4"};
  const IMAGES = {
    "dist-amp": ["distance", "amplitude"],
    "hdr": ["distance", "amplitude"],
    "grayscale": ["grayscale"],
    "dcs4": ["dcs0", "dcs1", "dcs2", "dcs3"],
  };
  const RECORDABLE = ["dcs4", "hdr"];

  // Visible to tests and the browser's console.
  const state = {
    palette: null, paletteRgb: null, codeRgb: new Map(), otherRgb: [255, 175, 200],
    frame: null, shown: null, received: 0, drawn: 0, receivedFps: 0, drawnFps: 0,
    receivedTimes: [], drawnTimes: [], mode: null, image: "distance",
    status: null, hover: null, scale: null, cloud: null,
  };
  window.ozrView = state;

  const $ = (id) => document.getElementById(id);
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  function say(text, isError) {
    $("message").textContent = text;
    $("message").className = isError ? "error" : "";
  }

  async function api(path, body) {
    const init = body === undefined ? {cache: "no-store"} : {
      method: "POST", headers: {"Content-Type": "application/json"}, body: JSON.stringify(body),
    };
    const res = await fetch(path, init);
    const data = await res.json().catch(() => ({error: res.statusText}));
    if (!res.ok) throw new Error(data.error || res.statusText);
    return data;
  }

  function codeName(v) {
    const c = state.palette.codes.find((e) => e.code === v);
    return c ? c.name : state.palette.other.name;
  }

  // ---- Messages ----------------------------------------------------------

  function planeName(kind) {
    if (kind === 1) return "distance";
    if (kind === 2) return "amplitude";
    if (kind === 3) return "grayscale";
    if (kind >= 16) return "dcs" + (kind - 16);
    return null;
  }

  // A message in its own buffer (so that the 16-bit planes are aligned).
  function parseMessage(bytes) {
    const dv = new DataView(bytes.buffer);
    const f = {
      mode: MODE_NAMES[dv.getUint8(12)] || "?", width: dv.getUint16(14, true),
      height: dv.getUint16(16, true), flags: dv.getUint16(18, true),
      number: dv.getUint32(20, true), timestamp: dv.getFloat64(24, true),
      fps: dv.getFloat32(32, true), temperature: dv.getFloat32(36, true),
      valid: dv.getFloat32(40, true), centre: dv.getUint16(44, true),
      medianDistance: dv.getUint16(46, true), medianAmplitude: dv.getUint16(48, true),
      medianGrayscale: dv.getUint16(50, true),
      distanceRange: [dv.getUint16(52, true), dv.getUint16(54, true)],
      amplitudeRange: [dv.getUint16(56, true), dv.getUint16(58, true)],
      planes: {},
    };
    const header = dv.getUint16(6, true);
    const count = dv.getUint8(13);
    const n = f.width * f.height;
    if (header + count * n * 2 !== bytes.length) throw new Error("malformed frame message");
    for (let p = 0; p < count; ++p) {
      const name = planeName(dv.getUint8(60 + p));
      if (name) f.planes[name] = new Uint16Array(bytes.buffer, header + p * n * 2, n);
    }
    return f;
  }

  // Events per second over the last two seconds, `times` their timestamps.
  function rate(times) {
    const now = performance.now();
    while (times.length && now - times[0] > 2000) times.shift();
    times.push(now);
    return times.length > 1 ? 1000 * (times.length - 1) / (times[times.length - 1] - times[0]) : 0;
  }

  function onFrame(f) {
    ++state.received;
    state.receivedFps = rate(state.receivedTimes);
    state.frame = f;
    if (!state.drawPending) {
      state.drawPending = true;
      requestAnimationFrame(() => { state.drawPending = false; draw(); });
    }
  }

  async function readStream() {
    for (;;) {
      try {
        const res = await fetch("stream", {cache: "no-store"});
        if (!res.ok) {
          const d = await res.json().catch(() => ({}));
          throw new Error(d.error || res.statusText);
        }
        const reader = res.body.getReader();
        let pending = new Uint8Array(0);
        for (;;) {
          const {value, done} = await reader.read();
          if (done) break;
          const joined = new Uint8Array(pending.length + value.length);
          joined.set(pending);
          joined.set(value, pending.length);
          pending = joined;
          while (pending.length >= 12) {
            const magic = String.fromCharCode(...pending.subarray(0, 4));
            const size = new DataView(pending.buffer, pending.byteOffset).getUint32(8, true);
            if (magic !== HEADER_MAGIC || size < 64 || size > MAX_MESSAGE) {
              throw new Error("the stream is not made of frame messages");
            }
            if (pending.length < size) break;
            const message = pending.slice(0, size);
            pending = pending.subarray(size);
            if (message[13] > 0) onFrame(parseMessage(message));
          }
        }
        say("the stream ended; reconnecting", true);
      } catch (e) {
        say("stream: " + e.message, true);
      }
      await sleep(1000);
    }
  }

  // ---- Pictures ------------------------------------------------------------

  function codeColour(v) {
    return state.codeRgb.get(v) || state.otherRgb;
  }

  // The previews' distance colouring: the colour map over the 1st to 99th
  // percentile, bright is near, codes in their own colours.
  function colourDistance(plane, out, range) {
    const map = state.paletteRgb;
    const last = map.length / 3 - 1;
    const near = range[0];
    const span = Math.max(1, range[1] - range[0]);
    for (let i = 0; i < plane.length; ++i) {
      const v = plane[i];
      let r, g, b;
      if (v >= FIRST_CODE) {
        [r, g, b] = codeColour(v);
      } else {
        const t = Math.min(1, Math.max(0, 1 - (v - near) / span));
        const k = 3 * Math.round(t * last);
        r = map[k]; g = map[k + 1]; b = map[k + 2];
      }
      out[4 * i] = r; out[4 * i + 1] = g; out[4 * i + 2] = b; out[4 * i + 3] = 255;
    }
  }

  // The previews' amplitude colouring: grey on a logarithmic scale.
  function colourAmplitude(plane, out, range) {
    const logLow = Math.log(range[0]);
    const logSpan = Math.max(1e-9, Math.log(range[1]) - logLow);
    for (let i = 0; i < plane.length; ++i) {
      const v = plane[i];
      if (v >= FIRST_CODE) {
        const [r, g, b] = codeColour(v);
        out[4 * i] = r; out[4 * i + 1] = g; out[4 * i + 2] = b;
      } else {
        const t = (Math.log(Math.max(v, 1)) - logLow) / logSpan;
        out[4 * i] = out[4 * i + 1] = out[4 * i + 2] = Math.round(255 * Math.min(1, Math.max(0, t)));
      }
      out[4 * i + 3] = 255;
    }
  }

  // Raw 12-bit images: grey from the image's smallest to its largest value.
  function colourRaw(plane, out) {
    let lo = 65535, hi = 0;
    for (const v of plane) { lo = Math.min(lo, v); hi = Math.max(hi, v); }
    const span = Math.max(1, hi - lo);
    for (let i = 0; i < plane.length; ++i) {
      out[4 * i] = out[4 * i + 1] = out[4 * i + 2] = Math.round(255 * (plane[i] - lo) / span);
      out[4 * i + 3] = 255;
    }
    return [lo, hi];
  }

  function drawBar(colourOf) {
    const bar = $("bar");
    const ctx = bar.getContext("2d");
    const img = ctx.createImageData(bar.width, 1);
    for (let x = 0; x < bar.width; ++x) {
      const [r, g, b] = colourOf(x / (bar.width - 1));
      img.data.set([r, g, b, 255], 4 * x);
    }
    ctx.putImageData(img, 0, 0);
  }

  function mapColour(t) {
    const map = state.paletteRgb;
    const k = 3 * Math.round(Math.min(1, Math.max(0, t)) * (map.length / 3 - 1));
    return [map[k], map[k + 1], map[k + 2]];
  }

  function updateLegend(kind, low, high, plane) {
    const key = kind + ":" + low + ":" + high;
    const labels = {
      distance: [low + " mm", Math.floor((low + high) / 2) + " mm", high + " mm"],
      amplitude: [String(low), Math.round(Math.exp((Math.log(low) + Math.log(high)) / 2)) + " (log scale)",
        String(high)],
      raw: [String(low), String(Math.round((low + high) / 2)), String(high)],
    }[kind];
    if (state.scale !== key) {
      state.scale = key;
      drawBar(kind === "distance" ? (t) => mapColour(1 - t) : (t) => {
        const g = Math.round(255 * t);
        return [g, g, g];
      });
      [$("scale-low").textContent, $("scale-mid").textContent, $("scale-high").textContent] = labels;
    }
    const counts = new Map();
    let other = 0;
    if (kind !== "raw") {
      for (const v of plane) {
        if (v < FIRST_CODE) continue;
        if (state.codeRgb.has(v)) counts.set(v, (counts.get(v) || 0) + 1); else ++other;
      }
    }
    const share = (c) => (100 * c / plane.length).toFixed(1) + " %";
    const rows = kind === "raw" ? [] : state.palette.codes.map((c) =>
      [c.colour, c.code + " " + c.name, share(counts.get(c.code) || 0)]);
    if (other > 0) rows.push([state.otherRgb, state.palette.other.name, share(other)]);
    const list = $("codes");
    list.replaceChildren(...rows.map(([rgb, name, part]) => {
      const li = document.createElement("li");
      const swatch = document.createElement("span");
      swatch.className = "swatch";
      swatch.style.background = `rgb(${rgb[0]},${rgb[1]},${rgb[2]})`;
      li.append(swatch, `${name} ${part}`);
      return li;
    }));
  }

  function draw() {
    const f = state.frame;
    if (!f || !state.palette) return;
    if (f.mode !== state.mode) setImages(f.mode);
    const plane = f.planes[state.image];
    if (!plane) return;
    const canvas = $("frame");
    if (canvas.width !== f.width || canvas.height !== f.height) {
      canvas.width = f.width;
      canvas.height = f.height;
    }
    const ctx = canvas.getContext("2d");
    const img = ctx.createImageData(f.width, f.height);
    if (state.image === "distance") {
      colourDistance(plane, img.data, f.distanceRange);
      updateLegend("distance", f.distanceRange[0], f.distanceRange[1], plane);
    } else if (state.image === "amplitude") {
      colourAmplitude(plane, img.data, f.amplitudeRange);
      updateLegend("amplitude", f.amplitudeRange[0], f.amplitudeRange[1], plane);
    } else {
      const [lo, hi] = colourRaw(plane, img.data);
      updateLegend("raw", lo, hi, plane);
    }
    ctx.putImageData(img, 0, 0);
    state.shown = f;
    ++state.drawn;
    showStats(f);
    showHover();
    // The cloud at most ten times a second: it costs far more than the picture.
    if (state.cloud && performance.now() - state.cloud.updated > 100) updateCloud(f);
  }

  // ---- Statistics and the pixel under the mouse ------------------------------

  function distanceText(v) {
    return v >= FIRST_CODE ? `${v} (${codeName(v)})` : `${v} mm`;
  }

  function showStats(f) {
    state.drawnFps = rate(state.drawnTimes);
    $("stat-camera-fps").textContent = f.fps.toFixed(1) + " fps";
    $("stat-page-fps").textContent =
      `${state.receivedFps.toFixed(1)} fps received, ${state.drawnFps.toFixed(1)} drawn`;
    $("stat-frame").textContent = String(f.number);
    $("stat-valid").textContent = f.valid.toFixed(1) + " %";
    const distanceMode = f.mode === "dist-amp" || f.mode === "hdr";
    $("stat-median").textContent = distanceMode ?
      (f.medianDistance ? f.medianDistance + " mm" : "no valid pixel") :
      f.mode === "grayscale" ? String(f.medianGrayscale) : "\u2013";
    $("stat-centre").textContent = distanceMode ? distanceText(f.centre) : "\u2013";
    $("stat-temperature").textContent = f.flags & 1 ? f.temperature.toFixed(1) + " \u00b0C" : "unknown";
  }

  function showHover() {
    const f = state.frame;
    const h = state.hover;
    if (!f || !h || h.x >= f.width || h.y >= f.height) return;
    const i = h.y * f.width + h.x;
    const parts = [`x ${h.x} y ${h.y}`];
    const dist = f.planes.distance;
    const amp = f.planes.amplitude;
    if (dist) parts.push("distance " + distanceText(dist[i]));
    if (amp) parts.push("amplitude " + (amp[i] >= FIRST_CODE ? `${amp[i]} (${codeName(amp[i])})` : amp[i]));
    for (const [name, plane] of Object.entries(f.planes)) {
      if (name !== "distance" && name !== "amplitude") parts.push(`${name} ${plane[i]}`);
    }
    $("hover").textContent = parts.join(", ");
  }

  $("frame").addEventListener("mousemove", (e) => {
    const c = e.target;
    const x = Math.floor(e.offsetX * c.width / c.clientWidth);
    const y = Math.floor(e.offsetY * c.height / c.clientHeight);
    state.hover = {x: Math.max(0, Math.min(c.width - 1, x)), y: Math.max(0, Math.min(c.height - 1, y))};
    showHover();
  });

  // ---- The 3-D view --------------------------------------------------------------

  async function openCloud() {
    const res = await fetch("api/rays", {cache: "no-store"});
    if (!res.ok) throw new Error((await res.json().catch(() => ({}))).error || res.statusText);
    const rays = new Float32Array(await res.arrayBuffer());
    const n = rays.length / 3;
    const holder = $("cloud");
    holder.hidden = false;
    const renderer = new THREE.WebGLRenderer({preserveDrawingBuffer: true});
    renderer.setSize(holder.clientWidth, holder.clientHeight);
    holder.replaceChildren(renderer.domElement);
    const scene = new THREE.Scene();
    const camera = new THREE.PerspectiveCamera(60, holder.clientWidth / holder.clientHeight, 0.01, 100);
    camera.position.set(1.2, 0.8, 0.3);  // from above and to the side of the camera
    const controls = new THREE.OrbitControls(camera, renderer.domElement);
    controls.target.set(0, 0, -2);
    controls.update();
    const geometry = new THREE.BufferGeometry();
    const positions = new Float32Array(3 * n);
    const colours = new Float32Array(3 * n);
    geometry.setAttribute("position", new THREE.BufferAttribute(positions, 3));
    geometry.setAttribute("color", new THREE.BufferAttribute(colours, 3));
    const material = new THREE.PointsMaterial({size: 2, sizeAttenuation: false, vertexColors: THREE.VertexColors});
    const points = new THREE.Points(geometry, material);
    points.frustumCulled = false;
    scene.add(points);
    state.cloud = {rays, n, renderer, scene, camera, controls, geometry, positions, colours, centred: false, updated: 0};
    controls.addEventListener("change", () => renderer.render(scene, camera));
  }

  function closeCloud() {
    if (!state.cloud) return;
    state.cloud.renderer.dispose();
    state.cloud = null;
    $("cloud").replaceChildren();
    $("cloud").hidden = true;
  }

  // Points in metres: the camera's x right, y down, z forward become the
  // scene's x right, y up, z towards the viewer.
  function updateCloud(f) {
    const c = state.cloud;
    const dist = f.planes.distance;
    if (!dist || dist.length !== c.n) return;
    const [near, far] = f.distanceRange;
    const span = Math.max(1, far - near);
    let k = 0;
    for (let i = 0; i < c.n; ++i) {
      const d = dist[i];
      if (d >= FIRST_CODE || d === 0) continue;
      const m = d / 1000;
      c.positions[3 * k] = m * c.rays[3 * i];
      c.positions[3 * k + 1] = -m * c.rays[3 * i + 1];
      c.positions[3 * k + 2] = -m * c.rays[3 * i + 2];
      const [r, g, b] = mapColour(1 - (d - near) / span);
      c.colours[3 * k] = r / 255; c.colours[3 * k + 1] = g / 255; c.colours[3 * k + 2] = b / 255;
      ++k;
    }
    c.geometry.setDrawRange(0, k);
    c.geometry.attributes.position.needsUpdate = true;
    c.geometry.attributes.color.needsUpdate = true;
    if (!c.centred && f.medianDistance) {
      c.controls.target.set(0, 0, -f.medianDistance / 1000);
      c.controls.update();
      c.centred = true;
    }
    c.renderer.render(c.scene, c.camera);
    c.updated = performance.now();
  }

  $("show3d").addEventListener("change", async (e) => {
    try {
      if (e.target.checked) await openCloud(); else closeCloud();
    } catch (err) {
      e.target.checked = false;
      closeCloud();
      say("3-D view: " + err.message, true);
    }
  });

  // ---- Images, snapshots, controls -----------------------------------------------

  function setImages(mode) {
    state.mode = mode;
    const names = IMAGES[mode] || [];
    if (!names.includes(state.image)) state.image = names[0];
    $("image").replaceChildren(...names.map((n) => new Option(n, n, false, n === state.image)));
    const links = names.map((n) => [`api/snapshot/${n}.png`, n + ".png"]);
    if (state.status && state.status.lens && (mode === "dist-amp" || mode === "hdr")) {
      links.push(["api/snapshot/points.ply", "points.ply"]);
    }
    $("snapshots").replaceChildren("Snapshot:", ...links.map(([href, text]) => {
      const a = document.createElement("a");
      a.href = href;
      a.download = "";
      a.textContent = text;
      a.className = "snapshot";
      return a;
    }));
    $("show3d").disabled = !(state.status && state.status.lens && (mode === "dist-amp" || mode === "hdr"));
    if ($("show3d").disabled && state.cloud) { $("show3d").checked = false; closeCloud(); }
    state.scale = null;
    loadControls();
  }

  $("image").addEventListener("change", (e) => {
    state.image = e.target.value;
    state.scale = null;
    draw();
  });

  function controlRow(c) {
    const tr = document.createElement("tr");
    const th = document.createElement("th");
    th.textContent = c.name;
    const td = document.createElement("td");
    const input = document.createElement("input");
    input.id = "control-" + c.name;
    input.dataset.value = c.value;
    if (c.switch) {
      input.type = "checkbox";
      input.checked = c.value !== 0;
    } else {
      input.type = "number";
      input.step = 1;
      input.value = c.value;
    }
    input.addEventListener("change", async () => {
      const text = input.value.trim();
      if (!c.switch && !/^-?\d+$/.test(text)) {
        say(`${c.name}: "${text}" is not a whole number`, true);
        input.value = input.dataset.value;
        return;
      }
      const value = c.switch ? (input.checked ? 1 : 0) : Number(text);
      try {
        const r = await api("api/control", {name: c.name, value});
        input.dataset.value = r.value;
        if (c.switch) input.checked = r.value !== 0; else input.value = r.value;
        say(`${c.name} = ${r.value}`, false);
      } catch (err) {
        if (c.switch) input.checked = Number(input.dataset.value) !== 0; else input.value = input.dataset.value;
        say(err.message, true);
      }
    });
    td.append(input);
    tr.append(th, td);
    return tr;
  }

  async function loadControls() {
    try {
      const r = await api("api/controls");
      $("mode").replaceChildren(...r.modes.map((m) => new Option(m, m, false, m === r.mode)));
      $("controls").replaceChildren(...r.controls.map(controlRow));
    } catch (err) {
      say("controls: " + err.message, true);
    }
  }

  $("mode").addEventListener("change", async (e) => {
    try {
      await api("api/mode", {mode: e.target.value});
      say("mode " + e.target.value, false);
    } catch (err) {
      say(err.message, true);
    }
    await pollStatus();
    loadControls();
  });

  async function command(path, body, done) {
    try {
      await api(path, body);
      say(done, false);
    } catch (err) {
      say(err.message, true);
    }
    pollStatus();
  }
  $("start").addEventListener("click", () => command("api/start", {}, "started"));
  $("stop").addEventListener("click", () => command("api/stop", {}, "stopped"));
  $("record").addEventListener("click", () => {
    const recording = state.status && state.status.recording;
    command("api/record", {action: recording ? "stop" : "start"},
      recording ? "recording stopped" : "recording");
  });

  async function pollStatus() {
    try {
      const s = await api("api/status");
      state.status = s;
      $("state").textContent = `${s.mode}, ${s.running ? "running" : "stopped"}, ` +
        `${s.viewers} of ${s.max_viewers} viewers` + (s.error ? ` \u2013 ${s.error}` : "");
      $("rec-indicator").hidden = !s.recording;
      $("rec-file").textContent = s.recording_file;
      $("rec-frames").textContent = s.recorded_frames + " frames";
      $("record").textContent = s.recording ? "Stop recording" : "Record";
      $("record").disabled = !s.recording && !RECORDABLE.includes(s.mode);
      $("start").disabled = s.running;
      $("stop").disabled = !s.running;
      if (s.mode !== state.mode) setImages(s.mode);
      else $("show3d").disabled = !(s.lens && (s.mode === "dist-amp" || s.mode === "hdr"));
    } catch (err) {
      $("state").textContent = "no answer: " + err.message;
    }
  }

  async function start() {
    try {
      state.palette = await api("api/palette");
      state.paletteRgb = new Uint8Array(state.palette.map.flat());
      for (const c of state.palette.codes) state.codeRgb.set(c.code, c.colour);
      state.otherRgb = state.palette.other.colour;
    } catch (err) {
      say("palette: " + err.message, true);
      return;
    }
    await pollStatus();
    setInterval(pollStatus, 1000);
    readStream();
  }
  start();
})();
