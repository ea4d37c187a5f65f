#include "gui/ProgressDisplay.h"
#include "gui/ScriptedBackend.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace InstallGui;

namespace {

struct Cancelled {};

}  // namespace

TEST(ProgressState, StepsAddUpAndWrapOnlyWhenAskedTo) {
  CProgressState plain;
  plain.SetProgressRange(100);
  plain.BeginProgress(0, false);
  plain.StepProgress(70);
  plain.StepProgress(70);
  EXPECT_EQ(plain.Position(), 140u) << "without wrap the bar is not taken back";

  CProgressState wrapping;
  wrapping.SetProgressRange(50);
  wrapping.BeginProgress(0, true);
  for (int i = 0; i < 50; ++i) wrapping.StepProgress(1);
  EXPECT_EQ(wrapping.Position(), 50u);
  wrapping.StepProgress(1);
  EXPECT_EQ(wrapping.Position(), 1u) << "a step past the end starts again from 0";
  wrapping.FillProgress();
  EXPECT_EQ(wrapping.Position(), 50u);
}

TEST(ProgressState, RangesBeyondFourGigabytesAreKept) {
  CProgressState s;
  const std::uint64_t big = 6ull * 1024 * 1024 * 1024;
  s.SetProgressRange(big);
  s.BeginProgress(0, false);
  s.StepProgress(big - 1);
  EXPECT_EQ(s.Position(), big - 1);
  s.FillProgress();
  EXPECT_EQ(s.Position(), big);
}

TEST(ProgressState, EscapeCountsOnlyDuringProgressWithAnItemWhileAllowed) {
  CProgressState s;
  int calls = 0;
  s.SetEscapeHandler([&] { ++calls; });
  s.SetItemText(L"C:\\x");
  EXPECT_FALSE(s.PressEscape()) << "before BeginProgress";
  s.BeginProgress(0, false);
  s.SetItemText(L"");
  EXPECT_FALSE(s.PressEscape()) << "an empty item line lets the key through";
  s.SetItemText(L"C:\\x");
  s.SetEscapeAllowed(false);
  EXPECT_FALSE(s.PressEscape()) << "swallowed while not allowed";
  s.SetEscapeAllowed(true);
  EXPECT_TRUE(s.PressEscape());
  s.EndProgress();
  EXPECT_FALSE(s.PressEscape()) << "after EndProgress";
  EXPECT_EQ(calls, 1);
}

TEST(ScriptedProgress, PressesEscapeOnceWhenTheNamedStageHasAnItem) {
  ScriptedBackend b("[progress Escape]\nstage = TEXT_UN_INSTALL\n", L"answers");
  auto window = b.MakeMainWindow();
  int calls = 0;
  window->SetEscapeHandler([&] { ++calls; });
  window->BeginProgress(0, false);
  window->SetStageText(L"TEXT_INSTALL", L"Copying");
  window->SetItemText(L"C:\\a");
  window->StepProgress(1);
  EXPECT_EQ(calls, 0) << "another stage";
  window->SetStageText(L"TEXT_UN_INSTALL", L"Removing");
  window->SetItemText(L"");
  window->StepProgress(1);
  EXPECT_EQ(calls, 0) << "the key waits for an item, as Escape does";
  window->SetItemText(L"C:\\b");
  window->StepProgress(1);
  window->StepProgress(1);
  EXPECT_EQ(calls, 1);
}

TEST(ScriptedProgress, PressesEscapeAfterTheNumberOfItemsAndItsHandlerMayEndTheCall) {
  ScriptedBackend b("[progress Escape]\nitems = 3\n", L"answers");
  auto window = b.MakeMainWindow();
  window->SetEscapeHandler([] { throw Cancelled{}; });
  window->BeginProgress(0, false);
  window->SetItemText(L"one");
  window->StepProgress(1);
  window->SetItemText(L" ");  // a blank line is no item
  window->StepProgress(1);
  window->SetItemText(L"two");
  window->StepProgress(1);
  window->SetItemText(L"three");
  EXPECT_THROW(window->StepProgress(1), Cancelled);
}

TEST(ScriptedProgress, WithoutASectionNothingIsPressedAndBadSectionsAreRefused) {
  ScriptedBackend b("[page DLG_GREETING]\nbutton = Next\n", L"answers");
  auto window = b.MakeMainWindow();
  bool called = false;
  window->SetEscapeHandler([&] { called = true; });
  window->BeginProgress(0, false);
  for (int i = 0; i < 20; ++i) {
    window->SetStageText(L"TEXT_INSTALL", L"x");
    window->SetItemText(L"item");
    window->StepProgress(1);
  }
  EXPECT_FALSE(called);
  EXPECT_THROW(ScriptedBackend("[progress Later]\nstage = TEXT_INSTALL\n", L"a"),
               std::runtime_error);
  ScriptedBackend bad("[progress Escape]\nitems = many\n", L"a");
  EXPECT_THROW(bad.MakeMainWindow(), UnansweredQuestion);
}
