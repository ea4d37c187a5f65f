// Loads the engine library the way the viewer does (dlopen by full path, "EntryPoint") and
// offers small helpers shared by the engine's tests.
#pragma once

#include "testing/EngineLibrary.h"
#include "testing/TestFiles.h"
#include "workspace/CADEngine.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <zlib.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace engine_test {

using QZ::ObjPtr;
namespace CAD = QZ::CAD;

inline CAD::ICADTools* Tools() {
  static CAD::ICADTools* tools = [] {
    const std::string path = morlane_test::EngineLibraryPath();
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw std::runtime_error(std::string("cannot load ") + path + ": " + dlerror());
    auto entry = reinterpret_cast<QZCadEntryPoint>(dlsym(lib, "EntryPoint"));
    if (!entry) throw std::runtime_error("no EntryPoint");
    return entry();
  }();
  return tools;
}

// Runs f and returns the code of the engine exception it throws (releasing it), 0 if none.
inline int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (QZ::IException* e) {
    const int code = e->GetCode();
    e->Release();
    return code;
  }
  return 0;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = ObjPtr<CAD::ICADContext>(Tools()->NewContext());
    ASSERT_TRUE(ctx);
  }
  ObjPtr<CAD::ICADContext> ctx;
};

// PNG files of the views.
struct Png {
  unsigned width = 0, height = 0;
  std::vector<unsigned char> rgb;  // rows of width * 3 bytes
  const unsigned char* At(unsigned x, unsigned y) const { return &rgb[(y * width + x) * 3]; }
};

inline unsigned Be32(const unsigned char* p) {
  return (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// Reads the 8-bit RGB, unfiltered PNG files the engine writes, checking every chunk's CRC.
inline Png ReadPng(const std::string& path) {
  Png png;
  const std::string data = ReadAll(path);
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  EXPECT_GE(data.size(), 8u);
  EXPECT_EQ(std::memcmp(p, "\x89PNG\r\n\x1a\n", 8), 0);
  size_t off = 8;
  std::vector<unsigned char> idat;
  while (off + 12 <= data.size()) {
    const unsigned len = Be32(p + off);
    const std::string type(data.data() + off + 4, 4);
    EXPECT_LE(off + 12 + len, data.size());
    const unsigned crc = Be32(p + off + 8 + len);
    EXPECT_EQ(crc, crc32(crc32(0, nullptr, 0), p + off + 4, len + 4)) << type;
    if (type == "IHDR") {
      png.width = Be32(p + off + 8);
      png.height = Be32(p + off + 12);
      EXPECT_EQ(p[off + 16], 8);
      EXPECT_EQ(p[off + 17], 2);
    } else if (type == "IDAT") {
      idat.insert(idat.end(), p + off + 8, p + off + 8 + len);
    }
    off += 12 + len;
  }
  std::vector<unsigned char> raw((png.width * 3 + 1) * png.height);
  uLongf size = raw.size();
  EXPECT_EQ(uncompress(raw.data(), &size, idat.data(), idat.size()), Z_OK);
  EXPECT_EQ(size, raw.size());
  for (unsigned y = 0; y < png.height; ++y) {
    EXPECT_EQ(raw[y * (png.width * 3 + 1)], 0);
    const auto* row = &raw[y * (png.width * 3 + 1) + 1];
    png.rgb.insert(png.rgb.end(), row, row + png.width * 3);
  }
  return png;
}

// Counts the pixels whose colour (red, green, blue) the predicate takes.
inline size_t CountPixels(const Png& png, const std::function<bool(const unsigned char*)>& take) {
  size_t n = 0;
  for (size_t i = 0; i + 3 <= png.rgb.size(); i += 3)
    if (take(&png.rgb[i])) ++n;
  return n;
}

// How many pixels of two pictures of one size differ (all of them when the sizes differ).
inline size_t Differing(const Png& a, const Png& b) {
  if (a.width != b.width || a.height != b.height) return SIZE_MAX;
  size_t n = 0;
  for (size_t i = 0; i < a.rgb.size(); i += 3)
    if (std::memcmp(&a.rgb[i], &b.rgb[i], 3) != 0) ++n;
  return n;
}

// Counts pixels close to a colour.
inline size_t CountNear(const Png& png, int r, int g, int b, int tol) {
  return CountPixels(png, [&](const unsigned char* c) {
    return std::abs(c[0] - r) <= tol && std::abs(c[1] - g) <= tol && std::abs(c[2] - b) <= tol;
  });
}

// The share of a picture's pixels that are clearly red (what the tests draw in red).
inline double RedShare(const Png& png) {
  const size_t red = CountPixels(
      png, [](const unsigned char* p) { return p[0] > 40 && p[0] > 2 * p[1] && p[0] > 2 * p[2]; });
  return png.rgb.empty() ? 0.0 : static_cast<double>(red) / (png.width * png.height);
}

// Items of an engine document.
inline std::string NameOf(CAD::IItem* item) {
  ObjPtr<CAD::IItemInfo> info(item->GetInfo());
  return info ? info->GetName() : "";
}

inline ObjPtr<CAD::IItem> Child(CAD::IAssembly* a, int i) {
  return ObjPtr<CAD::IItem>(a->GetChild(i));
}

inline CAD::IAssembly* AsAssembly(const ObjPtr<CAD::IItem>& i) {
  return dynamic_cast<CAD::IAssembly*>(i.Get());
}
inline CAD::IPart* AsPart(const ObjPtr<CAD::IItem>& i) {
  return dynamic_cast<CAD::IPart*>(i.Get());
}

// The bounding box of a part's shape at its placement.
inline std::vector<double> PlacedBox(CAD::IPart* part) {
  double m[12];
  part->GetMatrix(m);
  ObjPtr<CAD::IShape> s(part->GetShape());
  ObjPtr<CAD::IShape> placed(s->Placed(m));
  std::vector<double> box(6);
  EXPECT_TRUE(placed->GetBoundingBox(box.data()));
  return box;
}

inline void ExpectBoxNear(const std::vector<double>& got, std::initializer_list<double> want,
                          double tol) {
  ASSERT_EQ(got.size(), want.size());
  size_t i = 0;
  for (double w : want) {
    EXPECT_NEAR(got[i], w, tol) << "entry " << i;
    ++i;
  }
}

inline void ExpectColor(CAD::IPart* part, double r, double g, double b) {
  double rgb[3] = {-1, -1, -1};
  ASSERT_TRUE(part->GetColor(rgb));
  EXPECT_NEAR(rgb[0], r, 1e-3);
  EXPECT_NEAR(rgb[1], g, 1e-3);
  EXPECT_NEAR(rgb[2], b, 1e-3);
}

inline void Translation(double* m, double x, double y, double z) {
  for (int i = 0; i < 12; ++i) m[i] = 0;
  m[0] = m[5] = m[10] = 1;
  m[3] = x;
  m[7] = y;
  m[11] = z;
}

}  // namespace engine_test
