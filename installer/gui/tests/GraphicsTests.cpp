#include "gui/tests/ScriptData.h"

using namespace scriptdata;

TEST(Graphics, ImagesFromTheArchiveByIdInMemory) {
  tltest::ScopedMachine machine;
  LogCapture log;
  std::string wide = PngBytes(8, 4), tall = PngBytes(3, 9);
  platform::CreateDirectoryWithParents(L"C:\\Pkg");
  ASSERT_TRUE(tltest::WriteZip(platform::ToHostPath(L"C:\\Pkg\\Setup.data"),
                               {{"images/wide.png", wide},
                                {"images/tall.png", tall},
                                {"images/broken.png", "not a picture"}}));
  DataStorage::CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  Script script(
      "<?xml version=\"1.0\"?><S><IMAGES>"
      "<Background ID=\"7\" Path=\"images/wide.png\"/>"
      "<Banner ID=\"3\" Path=\"images/tall.png\"/>"
      "<Missing ID=\"4\" Path=\"images/missing.png\"/>"
      "<Broken ID=\"5\" Path=\"images/broken.png\"/>"
      "<NoId Path=\"images/tall.png\"/>"
      "<Again ID=\"7\" Path=\"images/tall.png\"/>"
      "</IMAGES></S>");
  CGraphics graphics(script.Provider());
  EXPECT_FALSE(graphics.Load(nullptr));
  ASSERT_TRUE(graphics.Load(&storage));
  EXPECT_EQ(graphics.GetCount(), 3);  // 0, 3 and 7
  EXPECT_EQ(graphics.GetIdAt(0), 0);
  EXPECT_EQ(graphics.GetIdAt(1), 3);
  EXPECT_EQ(graphics.GetIdAt(2), 7);
  EXPECT_EQ(graphics.GetIdAt(3), -1);
  EXPECT_EQ(graphics.GetIdAt(-1), -1);
  // The later of two images with one ID counts.
  const wxImage* seven = graphics.GetImage(7);
  ASSERT_NE(seven, nullptr);
  EXPECT_EQ(seven->GetWidth(), 3);
  EXPECT_EQ(seven->GetHeight(), 9);
  EXPECT_TRUE(seven->HasAlpha());
  EXPECT_EQ(graphics.GetPath(7), storage.GetTempFolder() + L"\\images\\tall.png");
  EXPECT_EQ(graphics.GetImage(4), nullptr);
  EXPECT_EQ(graphics.GetImage(5), nullptr);
  EXPECT_EQ(graphics.GetPath(5), L"");
  EXPECT_EQ(log.Count("1 don't extract graphical resources images/missing.png"), 1);
  EXPECT_EQ(log.Count("1 don't extract graphical resources images/broken.png"), 0);

  // The pictures stay when the extracted files go with the archive's temporary folder.
  storage.Close();
  EXPECT_FALSE(platform::PathFileExistsW(graphics.GetPath(3)));
  const wxImage* three = graphics.GetImage(3);
  ASSERT_NE(three, nullptr);
  EXPECT_EQ(three->GetRed(0, 0), 200);
  graphics.Clear();
  EXPECT_EQ(graphics.GetCount(), 0);
  EXPECT_EQ(graphics.GetImage(3), nullptr);

  // Without an Images element the load fails.
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  Script none("<?xml version=\"1.0\"?><S/>");
  CGraphics empty(none.Provider());
  EXPECT_FALSE(empty.Load(&storage));
}
