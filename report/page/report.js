// The page of a torvel check report. Each file's section carries its facts as JSON and its arrays as one
// base64 blob; everything shown is built from them here, texts always through textContent.
(function () {
  'use strict';

  var COLOURS = [[176, 176, 176], [224, 32, 32], [208, 40, 208]];  // planar, reported, degenerate
  var CAUSES = ['', 'zero-length edge', 'collinear'];
  var ROWS_AT_ONCE = 200;
  var params = new URLSearchParams(location.search);
  var selftest = params.get('selftest') === '1';
  var errors = [];

  // Any error of the page is written into it, so that it shows and a headless check can read it.
  function recordError(text) {
    errors.push(String(text));
    var list = document.getElementById('errors');
    if (list) {
      var li = document.createElement('li');
      li.className = 'js-error';
      li.textContent = String(text);
      list.appendChild(li);
    }
    if (document.body) document.body.setAttribute('data-js-errors', String(errors.length));
  }
  window.onerror = function (message, source, line, column) {
    recordError(message + ' (line ' + line + ':' + column + ')');
  };
  window.addEventListener('unhandledrejection', function (e) { recordError('unhandled rejection: ' + e.reason); });
  var consoleError = console.error;
  console.error = function () {
    recordError('console: ' + Array.prototype.join.call(arguments, ' '));
    consoleError.apply(console, arguments);
  };
  if (selftest) window.alert = function (text) { recordError('alert: ' + text); };

  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }
  function svgEl(tag, attrs) {
    var e = document.createElementNS('http://www.w3.org/2000/svg', tag);
    for (var k in attrs) e.setAttribute(k, attrs[k]);
    return e;
  }
  function fmt(x, digits) {
    if (x === null || x === undefined || isNaN(x)) return '';
    return Number(x.toPrecision(digits)).toString();
  }

  function decode(text) {
    var s = atob(text.trim());
    var bytes = new Uint8Array(s.length);
    for (var i = 0; i < s.length; ++i) bytes[i] = s.charCodeAt(i);
    return bytes.buffer;
  }
  var TYPES = { f64: Float64Array, f32: Float32Array, u32: Uint32Array, i32: Int32Array, u8: Uint8Array };
  function view(buffer, where) { return new TYPES[where[2]](buffer, where[0], where[1]); }

  // ---- one file ----
  function FileSection(section) {
    this.section = section;
    this.meta = JSON.parse(section.querySelector('script.meta').textContent);
    this.viewer = null;
    this.shown = 0;
    this.buildText();
  }

  FileSection.prototype.arrays = function () {
    if (this.data) return this.data;
    // The text is dropped once decoded: the arrays are kept instead, for the life of the page.
    var blob = this.section.querySelector('script.blob');
    var buffer = decode(blob.textContent);
    blob.remove();
    timing.decoded = Math.round(performance.now());
    var m = this.meta, d = m.details;
    this.data = {
      objects: m.objects.map(function (o) {
        return { pos: view(buffer, o.positions), off: view(buffer, o.offsets), idx: view(buffer, o.indices),
                 st: view(buffer, o.states) };
      }),
      details: { index: view(buffer, d.index), object: view(buffer, d.object), vertices: view(buffer, d.vertices),
                 line: view(buffer, d.line), bend: view(buffer, d.bend), outOfPlane: view(buffer, d.out_of_plane),
                 corner: view(buffer, d.corner), cause: view(buffer, d.cause) }
    };
    return this.data;
  };

  FileSection.prototype.buildText = function () {
    var m = this.meta, s = this.section;
    var summary = el('div', 'summary');
    function fact(label, value) {
      var span = el('span');
      span.appendChild(el('b', '', label + ': '));
      span.appendChild(document.createTextNode(value));
      summary.appendChild(span);
    }
    fact('polygons', String(m.polygons));
    fact('reported', String(m.reported));
    fact('tolerance', m.tolerance + '\u00b0');
    fact('precision', m.precision);
    fact('objects', m.objects.map(function (o) { return o.name; }).join(', ') || '(none)');
    s.appendChild(summary);

    var body = el('div', 'body');
    this.viewBox = el('div', 'view');
    this.pickBox = el('div', 'pick');
    var legend = el('div', 'legend');
    [['planar', 0], ['reported', 1], ['degenerate', 2]].forEach(function (p) {
      var sw = el('i');
      sw.style.background = 'rgb(' + COLOURS[p[1]].join(',') + ')';
      legend.appendChild(sw);
      legend.appendChild(document.createTextNode(p[0]));
    });
    this.viewBox.appendChild(this.pickBox);
    this.viewBox.appendChild(legend);
    body.appendChild(this.viewBox);

    var side = el('div', 'side');
    side.appendChild(el('h3', '', 'Bend of the polygons of 4+ corners'));
    side.appendChild(m.histogram ? this.histogram(m.histogram) : el('p', '', 'No histogram.'));
    side.appendChild(el('h3', '', 'Reported polygons, worst first (' + m.details.count + ')'));
    var list = el('div', 'list');
    var table = el('table');
    var head = el('tr');
    ['#', 'polygon', 'object', 'vertices', 'bend \u00b0', 'out of plane', 'degenerate', 'line'].forEach(function (h) {
      head.appendChild(el('th', '', h));
    });
    table.appendChild(el('thead')).appendChild(head);
    this.tbody = table.appendChild(el('tbody'));
    list.appendChild(table);
    this.more = el('button', 'more', '');
    var self = this;
    this.more.addEventListener('click', function () { self.showRows(); });
    list.appendChild(this.more);
    side.appendChild(list);
    body.appendChild(side);
    s.appendChild(body);
  };

  FileSection.prototype.histogram = function (h) {
    var W = 430, H = 150, bars = h.bands.concat([h.degenerate]);
    var labels = ['0-1', '1-2', '2-5', '5-10', '10-20', '20-45', '45-90', 'degen.'];
    var max = Math.max.apply(null, bars.concat([1]));
    var svg = svgEl('svg', { 'class': 'histogram', width: W, height: H, viewBox: '0 0 ' + W + ' ' + H });
    var bw = W / bars.length, t = this.meta.tolerance, edges = h.edges;
    bars.forEach(function (n, k) {
      // Counts span orders of magnitude: the height is logarithmic so that a few bent polygons still show.
      var bh = n > 0 ? Math.max(2, (H - 40) * Math.log(1 + n) / Math.log(1 + max)) : 0;
      var colour = k === 7 ? COLOURS[2] : edges[k] >= t ? COLOURS[1] : edges[k + 1] <= t ? COLOURS[0] : [230, 140, 60];
      var rect = svgEl('rect', { x: k * bw + 4, y: H - 20 - bh, width: bw - 8, height: bh,
                                 fill: 'rgb(' + colour.join(',') + ')' });
      rect.appendChild(svgEl('title', {})).textContent = labels[k] + (k < 7 ? '\u00b0' : '') + ': ' + n;
      svg.appendChild(rect);
      svg.appendChild(svgEl('text', { x: k * bw + bw / 2, y: H - 24 - bh, 'text-anchor': 'middle' })).textContent = n;
      svg.appendChild(svgEl('text', { x: k * bw + bw / 2, y: H - 6, 'text-anchor': 'middle' })).textContent = labels[k];
    });
    var wrap = el('div');
    wrap.appendChild(svg);
    var at = h.edges.map(function (e, k) { return e + '\u00b0: ' + h.reported[k]; }).join(', ');
    wrap.appendChild(el('div', 'reported-at', 'Reported at a tolerance of ' + at));
    return wrap;
  };

  FileSection.prototype.showRows = function () {
    var d = this.arrays().details, m = this.meta, self = this;
    var end = Math.min(m.details.count, this.shown + ROWS_AT_ONCE);
    for (var r = this.shown; r < end; ++r) {
      var tr = el('tr');
      var deg = d.corner[r] >= 0 ? 'corner ' + d.corner[r] + ', ' + CAUSES[d.cause[r]] : '';
      [String(r + 1), String(d.index[r]), m.objects[d.object[r]].name, String(d.vertices[r]), fmt(d.bend[r], 4),
       fmt(d.outOfPlane[r], 3), deg, isNaN(d.line[r]) ? '' : String(d.line[r])].forEach(function (v, c) {
        tr.appendChild(el('td', c === 2 || c === 6 ? 't' : '', v));
      });
      tr.setAttribute('data-polygon', String(d.index[r]));
      tr.addEventListener('click', (function (row, polygon) {
        return function () { self.select(polygon, row); };
      })(tr, d.index[r]));
      this.tbody.appendChild(tr);
    }
    this.shown = end;
    var left = m.details.count - end;
    this.more.textContent = 'show ' + Math.min(left, ROWS_AT_ONCE) + ' more of ' + left;
    this.more.style.display = left > 0 ? '' : 'none';
  };

  FileSection.prototype.activate = function () {
    if (!this.shown) this.showRows();
    if (!this.viewer) this.viewer = new Viewer(this);
  };
  FileSection.prototype.deactivate = function () {
    if (this.viewer) this.viewer.dispose();
    this.viewer = null;
  };

  FileSection.prototype.select = function (polygon, row) {
    var old = this.tbody.querySelector('tr.selected');
    if (old) old.classList.remove('selected');
    if (row) row.classList.add('selected');
    if (this.viewer) this.viewer.frame(polygon);
    this.describe(polygon);
  };

  // Where a polygon of the file is: its object and its number there.
  FileSection.prototype.locate = function (polygon) {
    var objects = this.meta.objects;
    for (var o = 0; o < objects.length; ++o)
      if (polygon >= objects[o].first && polygon < objects[o].first + objects[o].polygons)
        return { object: o, local: polygon - objects[o].first };
    return null;
  };

  FileSection.prototype.describe = function (polygon) {
    var at = this.locate(polygon);
    if (!at) { this.pickBox.textContent = ''; return; }
    var a = this.arrays(), o = a.objects[at.object];
    var d = a.details, bend = 'not reported';
    for (var r = 0; r < d.index.length; ++r) {
      if (d.index[r] !== polygon) continue;
      bend = d.corner[r] >= 0 ? 'degenerate (corner ' + d.corner[r] + ', ' + CAUSES[d.cause[r]] + ')'
                              : isNaN(d.bend[r]) ? 'unknown' : fmt(d.bend[r], 4) + '\u00b0';
      break;
    }
    this.pickBox.textContent = 'polygon ' + polygon + '\nobject ' + this.meta.objects[at.object].name +
        '\nbend ' + bend + '\nvertices ' + (o.off[at.local + 1] - o.off[at.local]);
    this.pickBox.setAttribute('data-polygon', String(polygon));
  };

  // ---- the 3D view ----
  var VERTEX = [
    'attribute vec3 tint;', 'varying vec3 vTint;', 'varying vec3 vView;',
    'void main() {', '  vec4 mv = modelViewMatrix * vec4(position, 1.0);', '  vView = mv.xyz;', '  vTint = tint;',
    '  gl_Position = projectionMatrix * mv;', '}'].join('\n');
  // Flat shading from the screen-space derivatives: a polygon is lit by the light of the camera, both sides.
  var FACES = [
    'varying vec3 vTint;', 'varying vec3 vView;',
    'void main() {', '  vec3 n = normalize(cross(dFdx(vView), dFdy(vView)));',
    '  gl_FragColor = vec4(vTint * (0.55 + 0.45 * abs(n.z)), 1.0);', '}'].join('\n');
  var LINES = ['varying vec3 vTint;', 'varying vec3 vView;',
               'void main() { gl_FragColor = vec4(vTint * 0.45, 1.0); }'].join('\n');

  // Corners a..b-1 of `pos` as seen along the polygon's Newell normal, x, y pairs into `out` (grown as
  // needed): the coordinate the normal is most along is dropped.
  function flatten(pos, a, b, out) {
    var nx = 0, ny = 0, nz = 0, k, j;
    for (k = a; k < b; ++k) {
      j = k + 1 < b ? k + 1 : a;
      nx += (pos[3 * k + 1] - pos[3 * j + 1]) * (pos[3 * k + 2] + pos[3 * j + 2]);
      ny += (pos[3 * k + 2] - pos[3 * j + 2]) * (pos[3 * k] + pos[3 * j]);
      nz += (pos[3 * k] - pos[3 * j]) * (pos[3 * k + 1] + pos[3 * j + 1]);
    }
    nx = Math.abs(nx); ny = Math.abs(ny); nz = Math.abs(nz);
    var u = nx >= ny && nx >= nz ? 1 : ny >= nz ? 2 : 0, w = (u + 1) % 3;
    if (out.length < 2 * (b - a)) out = new Float64Array(4 * (b - a));
    for (k = a; k < b; ++k) { out[2 * (k - a)] = pos[3 * k + u]; out[2 * (k - a) + 1] = pos[3 * k + w]; }
    return out;
  }

  // Whether a flat outline of n corners is convex: every corner turns the same way (or not at all) and it
  // goes round once, its edges turning between left and right at most twice (a star's corners all turn
  // alike).
  function convex(xy, n) {
    var turn = 0, first = 0, last = 0, flips = 0;
    for (var i = 0; i < n; ++i) {
      var q = (i + 1) % n, r = (i + 2) % n;
      var ex = xy[2 * q] - xy[2 * i], ey = xy[2 * q + 1] - xy[2 * i + 1];
      var c = ex * (xy[2 * r + 1] - xy[2 * q + 1]) - ey * (xy[2 * r] - xy[2 * q]);
      if (c !== 0) {
        if (!turn) turn = c > 0 ? 1 : -1;
        else if ((c > 0 ? 1 : -1) !== turn) return false;
      }
      if (ex !== 0) {
        var s = ex > 0 ? 1 : -1;
        if (!first) first = s;
        else if (s !== last) ++flips;
        last = s;
      }
    }
    if (last !== first) ++flips;
    return flips <= 2;
  }

  // Three.js's ear clipping of a flat outline: corner triples, none for an outline without area.
  function earClip(xy, n) {
    var pts = [];
    for (var i = 0; i < n; ++i) pts.push(new THREE.Vector2(xy[2 * i], xy[2 * i + 1]));
    return THREE.ShapeUtils.triangulateShape(pts, []);
  }

  function Viewer(file) {
    this.file = file;
    var meta = file.meta, data = file.arrays();
    var box = file.viewBox;
    this.renderer = new THREE.WebGLRenderer({ antialias: false, preserveDrawingBuffer: true });
    this.renderer.setPixelRatio(window.devicePixelRatio || 1);
    this.renderer.setClearColor(0xffffff);
    box.insertBefore(this.renderer.domElement, box.firstChild);
    this.scene = new THREE.Scene();
    this.faceMaterial = new THREE.ShaderMaterial({ vertexShader: VERTEX, fragmentShader: FACES, side: THREE.DoubleSide,
                                                   extensions: { derivatives: true }, polygonOffset: true,
                                                   polygonOffsetFactor: 1, polygonOffsetUnits: 1 });
    this.lineMaterial = new THREE.ShaderMaterial({ vertexShader: VERTEX, fragmentShader: LINES });

    // Objects are stored around centres of their own; the scene is placed around the first one's.
    var origin = meta.objects.length ? meta.objects[0].centre : [0, 0, 0];
    var self = this;
    this.meshes = [];
    this.radius = 0;
    meta.objects.forEach(function (o, k) {
      var shift = new THREE.Vector3(o.centre[0] - origin[0], o.centre[1] - origin[1], o.centre[2] - origin[2]);
      self.radius = Math.max(self.radius, shift.length() + o.radius);
      self.addObject(data.objects[k], shift, o.first);
    });
    if (!(this.radius > 0)) this.radius = 1;

    this.camera = new THREE.PerspectiveCamera(40, 1, this.radius * 1e-3, this.radius * 100);
    this.camera.position.set(0.6, 0.5, 1.0).normalize().multiplyScalar(this.radius * 3.2);
    this.controls = new THREE.OrbitControls(this.camera, this.renderer.domElement);
    this.controls.screenSpacePanning = true;
    this.controls.addEventListener('change', function () { self.request(); });
    this.highlight = null;
    this.raycaster = new THREE.Raycaster();
    this.onResize = function () { self.resize(); self.render(); };
    window.addEventListener('resize', this.onResize);
    var down = null;
    this.renderer.domElement.addEventListener('mousedown', function (e) { down = [e.clientX, e.clientY]; });
    this.renderer.domElement.addEventListener('click', function (e) {
      // A drag that orbits the view is not a pick.
      if (down && Math.abs(e.clientX - down[0]) + Math.abs(e.clientY - down[1]) > 4) return;
      down = null;
      self.pick(e.clientX, e.clientY);
    });
    timing.built = Math.round(performance.now());
    this.resize();
    this.render();
    this.pixel();  // waits for the frame to be drawn
    if (!timing.firstFrame) timing.firstFrame = Math.round(performance.now());
  }

  // The polygons of one object as triangles for display; outlines follow the polygons' edges. A polygon that
  // is convex seen along its normal (every quad of a grid) is fanned from its first corner; any other is
  // triangulated in that view by three.js's ear clipping, so that a notch or a hole a bridge leads to stays
  // open as the polygon's outline has it.
  Viewer.prototype.addObject = function (o, shift, first) {
    var polygons = o.off.length - 1, corners = o.idx.length, triangles = 0;
    for (var p = 0; p < polygons; ++p) triangles += Math.max(0, o.off[p + 1] - o.off[p] - 2);
    var pos = new Float32Array(corners * 3), tint = new Uint8Array(corners * 3);
    var tri = new Uint32Array(triangles * 3), triPolygon = new Uint32Array(triangles);
    var t = 0, flat = new Float64Array(64);
    for (p = 0; p < polygons; ++p) {
      var a = o.off[p], b = o.off[p + 1], c = COLOURS[o.st[p]] || COLOURS[0];
      for (var k = a; k < b; ++k) {
        var v = o.idx[k] * 3;
        pos[3 * k] = o.pos[v]; pos[3 * k + 1] = o.pos[v + 1]; pos[3 * k + 2] = o.pos[v + 2];
        tint[3 * k] = c[0]; tint[3 * k + 1] = c[1]; tint[3 * k + 2] = c[2];
      }
      var ears = [];
      if (b - a > 3 && !convex(flat = flatten(pos, a, b, flat), b - a)) ears = earClip(flat, b - a);
      // Ear clipping gives at most one triangle per corner past the second (fewer where corners repeat), and
      // none for a polygon without area: such a polygon keeps its fan.
      if (ears.length) {
        for (k = 0; k < ears.length && k < b - a - 2; ++k) {
          tri[3 * t] = a + ears[k][0]; tri[3 * t + 1] = a + ears[k][1]; tri[3 * t + 2] = a + ears[k][2];
          triPolygon[t++] = first + p;
        }
        continue;
      }
      for (k = a + 1; k + 1 < b; ++k) {
        tri[3 * t] = a; tri[3 * t + 1] = k; tri[3 * t + 2] = k + 1;
        triPolygon[t++] = first + p;
      }
    }
    if (t < triangles) { tri = tri.subarray(0, 3 * t); triPolygon = triPolygon.subarray(0, t); }
    var position = new THREE.BufferAttribute(pos, 3), colour = new THREE.BufferAttribute(tint, 3, true);
    var faces = new THREE.BufferGeometry();
    faces.setIndex(new THREE.BufferAttribute(tri, 1));
    faces.setAttribute('position', position);
    faces.setAttribute('tint', colour);
    var mesh = new THREE.Mesh(faces, this.faceMaterial);
    mesh.position.copy(shift);
    mesh.userData = { triPolygon: triPolygon, object: o, first: first, outline: null };
    this.scene.add(mesh);
    this.meshes.push(mesh);
    // A typical edge, from a sample of polygons: outlines are drawn only where polygons are large enough.
    var sum = 0, n = 0, step = Math.max(1, Math.floor(polygons / 1000));
    for (p = 0; p < polygons; p += step) {
      for (k = o.off[p]; k + 1 < o.off[p + 1]; ++k, ++n) {
        var dx = pos[3 * k + 3] - pos[3 * k], dy = pos[3 * k + 4] - pos[3 * k + 1], dz = pos[3 * k + 5] - pos[3 * k + 2];
        sum += Math.sqrt(dx * dx + dy * dy + dz * dz);
      }
    }
    this.edge = Math.max(this.edge || 0, n ? sum / n : 0);
  };

  // The polygons' edges (not the triangles'), made when first shown: sharing the faces' corners.
  Viewer.prototype.outlines = function (mesh) {
    if (mesh.userData.outline) return mesh.userData.outline;
    var o = mesh.userData.object, polygons = o.off.length - 1, edges = new Uint32Array(o.idx.length * 2);
    for (var p = 0; p < polygons; ++p)
      for (var k = o.off[p]; k < o.off[p + 1]; ++k) {
        edges[2 * k] = k;
        edges[2 * k + 1] = k + 1 < o.off[p + 1] ? k + 1 : o.off[p];
      }
    var lines = new THREE.BufferGeometry();
    lines.setIndex(new THREE.BufferAttribute(edges, 1));
    lines.setAttribute('position', mesh.geometry.getAttribute('position'));
    lines.setAttribute('tint', mesh.geometry.getAttribute('tint'));
    var outline = new THREE.LineSegments(lines, this.lineMaterial);
    outline.position.copy(mesh.position);
    this.scene.add(outline);
    return (mesh.userData.outline = outline);
  };

  Viewer.prototype.resize = function () {
    var w = this.file.viewBox.clientWidth || 600, h = this.file.viewBox.clientHeight || 400;
    this.renderer.setSize(w, h, false);
    this.camera.aspect = w / h;
    this.camera.updateProjectionMatrix();
  };

  Viewer.prototype.request = function () {
    var self = this;
    if (this.pending) return;
    this.pending = requestAnimationFrame(function () { self.pending = 0; self.render(); });
  };

  Viewer.prototype.render = function () {
    // Near and far follow the distance, so that a framed polygon of a large scene keeps its depth precision.
    var d = this.camera.position.distanceTo(this.controls.target);
    this.camera.near = Math.max(d * 1e-3, d - this.radius * 2) * 0.5;
    this.camera.far = d + this.radius * 4;
    this.camera.updateProjectionMatrix();
    // Outlines of polygons a few pixels wide would only darken them: shown from about 6 pixels an edge.
    var pixels = this.edge / (d * Math.tan(this.camera.fov * Math.PI / 360)) * this.renderer.domElement.height / 2;
    for (var m = 0; m < this.meshes.length; ++m) {
      if (pixels >= 6) this.outlines(this.meshes[m]).visible = true;
      else if (this.meshes[m].userData.outline) this.meshes[m].userData.outline.visible = false;
    }
    this.renderer.render(this.scene, this.camera);
  };

  // World corners of a polygon of the file, or null.
  Viewer.prototype.corners = function (polygon) {
    for (var m = 0; m < this.meshes.length; ++m) {
      var u = this.meshes[m].userData, o = u.object, p = polygon - u.first;
      if (p < 0 || p >= o.off.length - 1) continue;
      var out = [];
      for (var k = o.off[p]; k < o.off[p + 1]; ++k) {
        var v = o.idx[k] * 3;
        out.push(new THREE.Vector3(o.pos[v], o.pos[v + 1], o.pos[v + 2]).add(this.meshes[m].position));
      }
      return out;
    }
    return null;
  };

  // Turns the view to the polygon, along its normal on the camera's side, and outlines it.
  Viewer.prototype.frame = function (polygon) {
    var pts = this.corners(polygon);
    if (!pts || !pts.length) return;
    var centre = new THREE.Vector3(), normal = new THREE.Vector3(), r = 0;
    pts.forEach(function (p) { centre.add(p); });
    centre.divideScalar(pts.length);
    for (var k = 0; k < pts.length; ++k) {
      var a = pts[k], b = pts[(k + 1) % pts.length];
      normal.x += (a.y - b.y) * (a.z + b.z);
      normal.y += (a.z - b.z) * (a.x + b.x);
      normal.z += (a.x - b.x) * (a.y + b.y);
      r = Math.max(r, a.distanceTo(centre));
    }
    var dir = this.camera.position.clone().sub(this.controls.target).normalize();
    if (normal.lengthSq() > 0) {
      normal.normalize();
      if (normal.dot(dir) < 0) normal.negate();
      dir = normal.multiplyScalar(0.8).add(dir.multiplyScalar(0.2)).normalize();
    }
    if (!(r > 0)) r = this.radius * 1e-3;
    var dist = r * 3 / Math.tan(this.camera.fov * Math.PI / 360);
    this.controls.target.copy(centre);
    this.camera.position.copy(centre).add(dir.multiplyScalar(dist));
    if (this.highlight) { this.scene.remove(this.highlight); this.highlight.geometry.dispose(); }
    var g = new THREE.BufferGeometry().setFromPoints(pts);
    this.highlight = new THREE.LineLoop(g, new THREE.LineBasicMaterial({ color: 0xffcc00, depthTest: false }));
    this.highlight.renderOrder = 1;
    this.scene.add(this.highlight);
    this.controls.update();
    this.render();
  };

  Viewer.prototype.pick = function (clientX, clientY) {
    var rect = this.renderer.domElement.getBoundingClientRect();
    var ndc = new THREE.Vector2((clientX - rect.left) / rect.width * 2 - 1, -(clientY - rect.top) / rect.height * 2 + 1);
    this.raycaster.setFromCamera(ndc, this.camera);
    var hits = this.raycaster.intersectObjects(this.meshes);
    if (!hits.length) { this.file.pickBox.textContent = ''; return null; }
    var polygon = hits[0].object.userData.triPolygon[hits[0].faceIndex];
    this.file.describe(polygon);
    return polygon;
  };

  // Where the centre of a polygon is on the page, in CSS pixels of the viewport.
  Viewer.prototype.project = function (polygon) {
    var pts = this.corners(polygon), c = new THREE.Vector3();
    pts.forEach(function (p) { c.add(p); });
    c.divideScalar(pts.length).project(this.camera);
    var rect = this.renderer.domElement.getBoundingClientRect();
    return [rect.left + (c.x + 1) / 2 * rect.width, rect.top + (1 - c.y) / 2 * rect.height];
  };

  // The area of the triangles drawn for each of the file's first `count` polygons.
  Viewer.prototype.areas = function (count) {
    var out = new Array(count).fill(0), e = new THREE.Vector3(), f = new THREE.Vector3(), g = new THREE.Vector3();
    this.meshes.forEach(function (mesh) {
      var u = mesh.userData, tri = mesh.geometry.index.array, pos = mesh.geometry.getAttribute('position');
      for (var t = 0; t < u.triPolygon.length; ++t) {
        if (u.triPolygon[t] >= count) continue;
        e.fromBufferAttribute(pos, tri[3 * t]);
        f.fromBufferAttribute(pos, tri[3 * t + 1]).sub(e);
        g.fromBufferAttribute(pos, tri[3 * t + 2]).sub(e);
        out[u.triPolygon[t]] += f.cross(g).length() / 2;
      }
    });
    return out;
  };

  Viewer.prototype.pixel = function () {
    var gl = this.renderer.getContext(), px = new Uint8Array(4);
    gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, px);
  };

  Viewer.prototype.pixels = function () {
    var gl = this.renderer.getContext(), w = gl.drawingBufferWidth, h = gl.drawingBufferHeight;
    var px = new Uint8Array(w * h * 4), sum = 0;
    gl.readPixels(0, 0, w, h, gl.RGBA, gl.UNSIGNED_BYTE, px);
    for (var i = 0; i < px.length; i += 7) sum = (sum * 31 + px[i]) % 1000000007;
    return sum;
  };

  Viewer.prototype.dispose = function () {
    window.removeEventListener('resize', this.onResize);
    this.controls.dispose();
    this.scene.traverse(function (o) { if (o.geometry) o.geometry.dispose(); });
    this.renderer.dispose();
    this.renderer.forceContextLoss();
    this.renderer.domElement.remove();
  };

  // ---- the page ----
  var files = [], active = null;
  var timing = {};  // milliseconds since the page was opened
  function show(k) {
    if (!files[k] || active === files[k]) return;
    if (active) { active.deactivate(); active.section.classList.remove('active'); }
    active = files[k];
    active.section.classList.add('active');
    document.querySelectorAll('#files a').forEach(function (a) {
      a.classList.toggle('active', a.getAttribute('href') === '#' + active.section.id);
    });
    active.activate();
  }
  function fromHash() {
    var k = files.findIndex(function (f) { return '#' + f.section.id === location.hash; });
    show(k < 0 ? 0 : k);
  }

  // What a headless browser reads back: the list's order, a row's click, a pick, where polygons are drawn and
  // the area drawn for each.
  function runSelftest() {
    var out = { errors: errors, files: files.length };
    if (active) {
      var rows = active.tbody.querySelectorAll('tr');
      out.rows = Array.prototype.map.call(rows, function (r) { return Number(r.getAttribute('data-polygon')); });
      var v = active.viewer;
      out.projected = {};
      for (var p = 0; p < active.meta.polygons && p < 64; ++p) out.projected[p] = v.project(p);
      out.areas = v.areas(Math.min(active.meta.polygons, 64));
      if (rows.length) {
        var before = v.pixels(), camera = v.camera.position.toArray();
        rows[0].click();
        out.rowClick = { polygon: out.rows[0], viewChanged: v.pixels() !== before,
                         cameraMoved: v.camera.position.distanceTo(new THREE.Vector3().fromArray(camera)) > 0,
                         selected: rows[0].classList.contains('selected') };
        var at = v.project(out.rows[0]);
        v.renderer.domElement.dispatchEvent(new MouseEvent('click', { clientX: at[0], clientY: at[1], bubbles: true }));
        out.pick = active.pickBox.textContent;
        // Back to the first view, for a screenshot.
        v.controls.reset();
        v.render();
      }
    }
    out.images = document.querySelectorAll('img').length;
    out.errors = errors;
    var pre = el('pre', '', JSON.stringify(out));
    pre.id = 'selftest';
    document.body.appendChild(pre);
  }

  document.addEventListener('DOMContentLoaded', function () {
    timing.ready = Math.round(performance.now());
    document.querySelectorAll('section.file').forEach(function (s) {
      try { files.push(new FileSection(s)); } catch (e) { recordError(e && e.stack || e); }
    });
    window.addEventListener('hashchange', fromHash);
    try { fromHash(); } catch (e) { recordError(e && e.stack || e); }
    document.body.setAttribute('data-timing', JSON.stringify(timing));
    if (selftest) {
      try { runSelftest(); } catch (e) {
        recordError(e && e.stack || e);
        var pre = el('pre', '', JSON.stringify({ errors: errors }));
        pre.id = 'selftest';
        document.body.appendChild(pre);
      }
    }
  });
})();
