#include "SharePage.h"

#include "Command.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace morlane {

namespace {

// Each script is limited in size (the system's files are below 1 MB): a folder that holds
// something else under those names is not copied into a page wholesale.
constexpr std::size_t kMaxScriptBytes = std::size_t(8) << 20;

std::string ReadScript(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw Failure{"share: the WebGL library is missing: " + path +
                  " cannot be read (the package libjs-three installs it)"};
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxScriptBytes)
      throw Failure{"share: " + path + " is larger than a script of the WebGL library can be"};
  }
  if (text.empty()) throw Failure{"share: " + path + " is empty"};
  // A script element ends at the first "</script"; "<!--" changes how the browser looks for it.
  const std::string lower = Lower(text);
  if (lower.find("</script") != std::string::npos || lower.find("<!--") != std::string::npos)
    throw Failure{"share: " + path + " cannot be put inside the page's script element"};
  return text;
}

// The page around its parts: title, the three scripts of the library, the model, the viewer.
constexpr const char* kHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data: blob:">
<meta name="generator" content="morlane share">
<title>)";

constexpr const char* kStyle = R"(</title>
<style>
html, body { margin: 0; height: 100%; font: 13px/1.4 "Liberation Sans", Arial, sans-serif; color: #222; }
body { display: flex; overflow: hidden; }
#tree { width: 260px; min-width: 160px; max-width: 45%; resize: horizontal; overflow: auto;
        border-right: 1px solid #c8ccd2; background: #fafbfc; box-sizing: border-box; padding: 8px 6px; }
#tree h1 { font-size: 14px; margin: 0 0 6px 4px; word-break: break-all; }
#tree ul { list-style: none; margin: 0; padding-left: 14px; }
#tree > ul { padding-left: 0; }
#tree .item { display: block; padding: 1px 4px; border-radius: 3px; cursor: pointer; white-space: nowrap; }
#tree .item:hover { background: #e4e8ee; }
#tree .item.selected { background: #2f6fdf; color: #fff; }
#tree .swatch { display: inline-block; width: 9px; height: 9px; margin-right: 5px; border: 1px solid #0004; vertical-align: -1px; }
#tree .group > .item { font-weight: bold; }
#tree .hint { color: #667; margin: 10px 4px 0; font-size: 12px; }
#view { position: relative; flex: 1; min-width: 0; }
#view canvas { display: block; width: 100%; height: 100%; }
#status { position: absolute; left: 10px; bottom: 8px; color: #445; font-size: 12px; }
#status.error { color: #b00; font-size: 14px; }
</style>
</head>
<body>
<nav id="tree"><h1 id="title">)";

constexpr const char* kBody = R"(</h1><ul id="items"></ul>
<p class="hint">Click a name to show that part alone among the others faded, click it again to show all;
drag to turn, right-drag to move, wheel to zoom; double-click a name to fit the view to it.</p></nav>
<main id="view"><canvas id="canvas"></canvas><div id="status">Loading the model...</div></main>
)";

// The viewer: builds the tree from the glTF's nodes, shows the scene, selects.
constexpr const char* kViewer = R"JS(
(function () {
  'use strict';
  var status = document.getElementById('status');
  var canvas = document.getElementById('canvas');
  var list = document.getElementById('items');
  function fail(text) {
    status.textContent = text;
    status.className = 'error';
    document.body.setAttribute('data-state', 'failed');
  }
  if (typeof THREE === 'undefined' || !THREE.GLTFLoader || !THREE.OrbitControls) {
    fail('The WebGL library did not load.');
    return;
  }
  var renderer;
  try {
    renderer = new THREE.WebGLRenderer({ canvas: canvas, antialias: true, preserveDrawingBuffer: true });
  } catch (e) {
    fail('This browser cannot show the model: WebGL is not available.');
    return;
  }
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  // glTF colours are linear: shown through the sRGB curve they are the model's own colours.
  if ('outputEncoding' in renderer) renderer.outputEncoding = THREE.sRGBEncoding;
  else { renderer.gammaOutput = true; renderer.gammaFactor = 2.2; }
  var scene = new THREE.Scene();
  scene.background = new THREE.Color(0xf2f4f7);
  var camera = new THREE.PerspectiveCamera(30, 1, 0.001, 1000);
  scene.add(new THREE.HemisphereLight(0xffffff, 0x8a8f99, 0.75));
  var key = new THREE.DirectionalLight(0xffffff, 0.45);
  key.position.set(0.5, 1, 1.5);
  camera.add(key);
  scene.add(camera);
  var controls = new THREE.OrbitControls(camera, canvas);
  controls.screenSpacePanning = true;
  var draw = function () { renderer.render(scene, camera); };
  controls.addEventListener('change', draw);

  // What the view was last fitted to, until the user turns, moves or zooms it: a new size of
  // the window fits it again (the page's first layout may still change its size).
  var fitted = null;
  controls.addEventListener('start', function () { fitted = null; });
  function resize() {
    var w = canvas.clientWidth || 1, h = canvas.clientHeight || 1;
    renderer.setSize(w, h, false);
    camera.aspect = w / h;
    camera.updateProjectionMatrix();
    if (fitted) fit(fitted);
    else draw();
  }
  window.addEventListener('resize', resize);

  // The view from the model's corner (+x, -y, +z with z up: +x, +y, +z here, y up) onto a box.
  function fit(object) {
    var box = new THREE.Box3().setFromObject(object);
    if (box.isEmpty()) return;
    fitted = object;
    var sphere = box.getBoundingSphere(new THREE.Sphere());
    var r = Math.max(sphere.radius, 1e-6);
    var d = r / Math.sin(THREE.MathUtils ? THREE.MathUtils.degToRad(camera.fov / 2) : camera.fov * Math.PI / 360);
    d *= 1.1 * Math.max(1, 1 / camera.aspect);
    var dir = new THREE.Vector3(1, 0.8, 1.2).normalize();
    camera.near = d / 100;
    camera.far = d * 10;
    // The sphere leaves a flat or long model small: closer, until the box's corners fill 90 %
    // of the view (a few steps, as the perspective is not quite proportional).
    var corners = [];
    for (var k = 0; k < 8; ++k)
      corners.push(new THREE.Vector3(k & 1 ? box.max.x : box.min.x, k & 2 ? box.max.y : box.min.y,
                                     k & 4 ? box.max.z : box.min.z));
    for (var step = 0; step < 4; ++step) {
      camera.position.copy(sphere.center).addScaledVector(dir, d);
      camera.lookAt(sphere.center);
      camera.updateProjectionMatrix();
      camera.updateMatrixWorld();
      var reach = 0;
      corners.forEach(function (c) {
        var p = c.clone().project(camera);
        reach = Math.max(reach, Math.abs(p.x), Math.abs(p.y));
      });
      if (!(reach > 0) || Math.abs(reach - 0.9) < 0.02) break;
      d = Math.max(d * reach / 0.9, r * 1.05);
    }
    controls.target.copy(sphere.center);
    controls.update();
    fitted = object;
    draw();
  }

  var bytes;
  try {
    var text = atob(document.getElementById('model').textContent.replace(/\s+/g, ''));
    bytes = new Uint8Array(text.length);
    for (var i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
  } catch (e) {
    fail('The model in this page is damaged.');
    return;
  }

  var meshes = [];     // every mesh with its own material
  var ghost = new THREE.MeshLambertMaterial({ color: 0xb8bec8, transparent: true, opacity: 0.18, depthWrite: false });
  var items = [];      // tree entries: { element, object }
  var selected = null;

  function colourOf(object) {
    var found = null;
    object.traverse(function (o) { if (!found && o.isMesh && o.userData.own) found = o.userData.own.color; });
    return found;
  }
  function select(entry) {
    selected = entry === selected ? null : entry;
    items.forEach(function (e) { e.element.classList.toggle('selected', e === selected); });
    var inside = new Set();
    if (selected) selected.object.traverse(function (o) { inside.add(o); });
    meshes.forEach(function (m) {
      m.material = !selected || inside.has(m) ? m.userData.own : ghost;
      m.renderOrder = !selected || inside.has(m) ? 0 : 1;
    });
    document.body.setAttribute('data-selected', selected ? selected.name : '');
    try {
      history.replaceState(null, '', selected ? '#part=' + encodeURIComponent(selected.name) : '#');
    } catch (e) {}
    draw();
  }

  function addItems(json, objects, index, parentList, isRoot) {
    var node = json.nodes[index] || {};
    var li = document.createElement('li');
    var span = document.createElement('span');
    span.className = 'item';
    // The model's root stands for the whole model: the page's title when it has no name.
    var name = node.name || (isRoot ? document.title : '(no name)');
    var entry = { element: span, object: objects[index], name: name };
    var colour = node.mesh !== undefined ? colourOf(objects[index]) : null;
    if (colour) {
      var sw = document.createElement('span');
      sw.className = 'swatch';
      sw.style.background = '#' + colour.clone().convertLinearToSRGB().getHexString();
      span.appendChild(sw);
    }
    span.appendChild(document.createTextNode(name));
    span.setAttribute('data-node', String(index));
    span.title = name;
    span.addEventListener('click', function () { select(entry); });
    span.addEventListener('dblclick', function () { fit(entry.object); });
    items.push(entry);
    li.appendChild(span);
    var children = node.children || [];
    if (children.length) {
      li.className = 'group';
      var ul = document.createElement('ul');
      children.forEach(function (c) { addItems(json, objects, c, ul, false); });
      li.appendChild(ul);
    }
    parentList.appendChild(li);
  }

  var loader = new THREE.GLTFLoader();
  loader.parse(bytes.buffer, '', function (gltf) {
    var model = gltf.scene;
    var triangles = 0;
    model.traverse(function (o) {
      if (!o.isMesh) return;
      var m = Array.isArray(o.material) ? o.material[0] : o.material;
      var own = new THREE.MeshPhongMaterial({
        color: m.color ? m.color.clone() : new THREE.Color(0x008caf),
        transparent: m.transparent || m.opacity < 1, opacity: m.opacity,
        side: THREE.DoubleSide, shininess: 25, specular: 0x222222,
        flatShading: !o.geometry.attributes.normal
      });
      o.material = own;
      o.userData.own = own;
      meshes.push(o);
      var g = o.geometry;
      triangles += (g.index ? g.index.count : g.attributes.position.count) / 3;
    });
    scene.add(model);
    var json = gltf.parser.json;
    var nodes = json.nodes || [];
    Promise.all(nodes.map(function (n, i) { return gltf.parser.getDependency('node', i); }))
      .then(function (objects) {
        var roots = (json.scenes && json.scenes[json.scene || 0] || {}).nodes || [];
        roots.forEach(function (r) { addItems(json, objects, r, list, true); });
        resize();
        fit(model);
        // "#part=NAME" in the page's address shows that part picked (the first of that name).
        var hash = /^#part=(.*)$/.exec(location.hash);
        if (hash) {
          var wanted = decodeURIComponent(hash[1]);
          var entry = items.filter(function (e) { return e.name === wanted; })[0];
          if (entry) select(entry);
        }
        status.textContent = meshes.length + ' meshes, ' + Math.round(triangles) + ' triangles';
        document.body.setAttribute('data-state', 'shown');
        document.body.setAttribute('data-nodes', String(nodes.length));
      }, function (e) { fail('The model tree cannot be read: ' + e); });
  }, function (e) { fail('The model cannot be read: ' + (e && e.message ? e.message : e)); });

  // A click in the view (not a drag) selects the part under the pointer.
  var down = null;
  canvas.addEventListener('pointerdown', function (e) { down = { x: e.clientX, y: e.clientY }; });
  canvas.addEventListener('pointerup', function (e) {
    if (!down || Math.abs(e.clientX - down.x) + Math.abs(e.clientY - down.y) > 4) return;
    var rect = canvas.getBoundingClientRect();
    var p = new THREE.Vector2((e.clientX - rect.left) / rect.width * 2 - 1,
                              -(e.clientY - rect.top) / rect.height * 2 + 1);
    var ray = new THREE.Raycaster();
    ray.setFromCamera(p, camera);
    var shown = meshes.filter(function (m) { return m.material !== ghost; });
    var hit = ray.intersectObjects(shown, false)[0];
    if (!hit) { if (selected) select(selected); return; }
    // The innermost tree entry that holds the mesh.
    for (var o = hit.object; o; o = o.parent) {
      var entry = items.filter(function (it) { return it.object === o; })[0];
      if (entry) { if (entry !== selected) select(entry); entry.element.scrollIntoView({ block: 'nearest' }); return; }
    }
  });
})();
)JS";

}  // namespace

WebLibrary LoadWebLibrary(const std::string& folder) {
  WebLibrary lib;
  lib.three = ReadScript(folder + "/build/three.min.js");
  lib.orbitControls = ReadScript(folder + "/examples/js/controls/OrbitControls.js");
  lib.gltfLoader = ReadScript(folder + "/examples/js/loaders/GLTFLoader.js");
  return lib;
}

std::string Base64(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4 + bytes.size() / 57 + 1);
  std::size_t i = 0, line = 0;
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
    // Lines of 76 characters, so that the page stays readable as text.
    if (++line == 19) {
      out += '\n';
      line = 0;
    }
  }
  const std::size_t rest = bytes.size() - i;
  if (rest) {
    const unsigned v = at(i) << 16 | (rest == 2 ? at(i + 1) << 8 : 0);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string SharePage(const std::string& title, std::string_view glb, const WebLibrary& library) {
  const std::string name = HtmlEscape(title);
  std::string page;
  page.reserve(library.three.size() + library.orbitControls.size() + library.gltfLoader.size() +
               glb.size() * 4 / 3 + glb.size() / 57 + 16384);
  page += kHead;
  page += name;
  page += kStyle;
  page += name;
  page += kBody;
  page += "<script>\n" + library.three + "\n</script>\n";
  page += "<script>\n" + library.orbitControls + "\n</script>\n";
  page += "<script>\n" + library.gltfLoader + "\n</script>\n";
  // Base64 holds no '<': it cannot end its element early.
  page += "<script id=\"model\" type=\"application/octet-stream\">\n";
  page += Base64(glb);
  page += "\n</script>\n<script>";
  page += kViewer;
  page += "</script>\n</body>\n</html>\n";
  return page;
}

}  // namespace morlane
