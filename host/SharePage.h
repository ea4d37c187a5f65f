#pragma once
// The page of `morlane share`: one HTML file that shows a model in a browser with no other
// file and no network. The WebGL library (three.js of the system's libjs-three: the library,
// its orbit controls and its glTF loader) is copied into the page when it is written; the model
// goes in as its binary glTF, in base64. The page's own script builds the model tree beside the
// view from the glTF's nodes (their names and children), highlights a part picked in the tree
// or the view and shows the others faded, and fits the view to the model or the part.

#include <cstddef>
#include <string>
#include <string_view>

namespace morlane {

// Where libjs-three keeps the files the page takes; MORLANE_THREE_DIR names another folder
// with the same layout (build/three.min.js, examples/js/controls/OrbitControls.js,
// examples/js/loaders/GLTFLoader.js).
constexpr const char* kThreeDir = "/usr/share/javascript/three";

struct WebLibrary {
  std::string three, orbitControls, gltfLoader;
};

// The three scripts, read from the folder. Throws Failure naming the file that is missing or
// unreadable, or one that could not stand inside a script element of the page.
WebLibrary LoadWebLibrary(const std::string& folder);

// The size of a model's glTF that the page still takes (its base64 is a third larger); from a
// quarter of it on, the page is written with a warning that browsers take long to open it.
constexpr std::size_t kMaxPageModelBytes = std::size_t(96) << 20;

std::string Base64(std::string_view bytes);
// Text for HTML content and attribute values: &, <, >, " and ' escaped.
std::string HtmlEscape(std::string_view text);

// The page: title (UTF-8, the file's name as a rule) shown in its head and above the tree, the
// model's binary glTF, and the library.
std::string SharePage(const std::string& title, std::string_view glb, const WebLibrary& library);

}  // namespace morlane
