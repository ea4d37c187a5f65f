// The page of `morlane share` as text: base64 of the model, escapes of the title, the scripts
// of the WebGL library in their order and the refusals of scripts that cannot be copied in;
// and the mesh formats that convert knows by their extensions. The page in a browser is
// tested by commands_test.sh (share).
#include "Command.h"
#include "SharePage.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace morlane {
namespace {

namespace fs = std::filesystem;

std::string Decode64(const std::string& text) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned value = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=' || c == '\n') continue;
    const auto at = alphabet.find(c);
    if (at == std::string::npos) ADD_FAILURE() << "not base64: " << int(c);
    value = value << 6 | static_cast<unsigned>(at);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

class ScriptFolder {
 public:
  ScriptFolder() {
    std::string pattern = (fs::temp_directory_path() / "morlane-three-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    m_path = pattern;
    fs::create_directories(m_path / "build");
    fs::create_directories(m_path / "examples/js/controls");
    fs::create_directories(m_path / "examples/js/loaders");
  }
  ~ScriptFolder() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(m_path / name, std::ios::binary) << text;
  }
  void WriteAll(const std::string& three = "var THREE = {};") const {
    Write("build/three.min.js", three);
    Write("examples/js/controls/OrbitControls.js", "THREE.OrbitControls = 1;");
    Write("examples/js/loaders/GLTFLoader.js", "THREE.GLTFLoader = 2;");
  }
  std::string Path() const { return m_path.string(); }

 private:
  fs::path m_path;
};

std::string FailureOf(const std::string& folder) {
  try {
    LoadWebLibrary(folder);
  } catch (const Failure& f) {
    return f.line;
  }
  return "";
}

TEST(SharePageTest, Base64IsTheStandardAlphabetWithPaddingInLinesOf76) {
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("f"), "Zg==");
  EXPECT_EQ(Base64("fo"), "Zm8=");
  EXPECT_EQ(Base64("foo"), "Zm9v");
  EXPECT_EQ(Base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64(std::string("\xff\xfe\x00", 3)), "//4A");
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += static_cast<char>(i * 37 % 256);
  const std::string text = Base64(bytes);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_EQ(end - start, 76u);
  EXPECT_LE(text.size() - start, 76u);
  EXPECT_EQ(Decode64(text), bytes);
}

TEST(SharePageTest, TheTitleIsEscapedAndTheModelAndScriptsStandInTheirPlaces) {
  WebLibrary lib{"/*three*/", "/*orbit*/", "/*loader*/"};
  const std::string glb("glTF\x02\x00\x00\x00<not/>", 14);
  const std::string page = SharePage("a<b>&\"c'.xml", glb, lib);
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(page.find("<title>a&lt;b&gt;&amp;&quot;c&#39;.xml</title>"), std::string::npos);
  EXPECT_EQ(page.find("a<b>"), std::string::npos);
  // Library first, in the order each needs the one before, then the model, then the viewer.
  const auto three = page.find("/*three*/"), orbit = page.find("/*orbit*/"),
             loader = page.find("/*loader*/"), model = page.find("id=\"model\"");
  ASSERT_NE(three, std::string::npos);
  EXPECT_LT(three, orbit);
  EXPECT_LT(orbit, loader);
  EXPECT_LT(loader, model);
  EXPECT_NE(page.find("GLTFLoader()", model), std::string::npos);
  const auto begin = page.find('\n', model) + 1;
  const auto end = page.find("</script>", begin);
  EXPECT_EQ(Decode64(page.substr(begin, end - begin)), glb);
  // Nothing in the page is fetched.
  EXPECT_NE(page.find("default-src 'none'"), std::string::npos);
  EXPECT_EQ(page.find(" src="), std::string::npos);
  EXPECT_EQ(page.find(" href="), std::string::npos);
  EXPECT_EQ(HtmlEscape("plain"), "plain");
}

TEST(SharePageTest, TheLibraryIsReadWholeOrRefusedNamingTheFile) {
  ScriptFolder folder;
  EXPECT_EQ(FailureOf(folder.Path()),
            "share: the WebGL library is missing: " + folder.Path() +
                "/build/three.min.js cannot be read (the package libjs-three installs it)");
  folder.WriteAll();
  const WebLibrary lib = LoadWebLibrary(folder.Path());
  EXPECT_EQ(lib.three, "var THREE = {};");
  EXPECT_EQ(lib.orbitControls, "THREE.OrbitControls = 1;");
  EXPECT_EQ(lib.gltfLoader, "THREE.GLTFLoader = 2;");
  // What would end the page's script element early, or change how it ends, is refused.
  for (const char* bad : {"var s = '</SCRIPT>';", "x = 1; <!-- y", ""}) {
    folder.WriteAll(bad);
    EXPECT_NE(FailureOf(folder.Path()).find(folder.Path() + "/build/three.min.js"),
              std::string::npos)
        << bad;
  }
  folder.WriteAll(std::string((8 << 20) + 1, 'x'));
  EXPECT_NE(FailureOf(folder.Path()).find("larger than"), std::string::npos);
}

TEST(SharePageTest, TheSystemsLibraryIsTheOneThePageTakes) {
  if (!fs::exists(std::string(kThreeDir) + "/build/three.min.js"))
    GTEST_SKIP() << "libjs-three is not installed";
  const WebLibrary lib = LoadWebLibrary(kThreeDir);
  EXPECT_GT(lib.three.size(), 100000u);
  EXPECT_NE(lib.orbitControls.find("OrbitControls"), std::string::npos);
  EXPECT_NE(lib.gltfLoader.find("GLTFLoader"), std::string::npos);
}

TEST(SharePageTest, MeshFormatsAreKnownByTheirExtensionInAnyCase) {
  EXPECT_EQ(MeshFormatOf("a/model.glb"), MeshFormat::Glb);
  EXPECT_EQ(MeshFormatOf("model.GLTF"), MeshFormat::Gltf);
  EXPECT_EQ(MeshFormatOf("my model.Obj"), MeshFormat::Obj);
  EXPECT_EQ(MeshFormatOf("model.step"), MeshFormat::None);
  EXPECT_EQ(MeshFormatOf("folder.glb/model"), MeshFormat::None);
  EXPECT_EQ(MeshFormatOf("glb"), MeshFormat::None);
}

}  // namespace
}  // namespace morlane
