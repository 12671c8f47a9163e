// Screenshots of the main window for the documentation (docs/main-window*.png). Skipped unless
// TAMZEL_SCREENSHOT_DIR names the folder to write them to; scripts/gui-screenshots runs it.
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/dng_writer.h"
#include "ui/about_dialog.h"
#include "ui_test_support.h"

namespace uitest {
namespace {

using ScreenshotTest = UiTest;

// Lets the X server draw the window, then grabs the screen and crops it to the window.
void shoot(wxWindow* frame, const std::string& file) {
  for (int i = 0; i < 20; ++i) {
    pumpRounds(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const wxRect r = frame->GetScreenRect();
  const std::string command = "import -window root -crop " + std::to_string(r.width) + "x" +
                              std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
                              std::to_string(r.y) + " +repage '" + file + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST_F(ScreenshotTest, MainWindowIdleAndAfterAJob) {
  const char* dir = std::getenv("TAMZEL_SCREENSHOT_DIR");
  if (!dir || !*dir) GTEST_SKIP() << "TAMZEL_SCREENSHOT_DIR not set";

  const std::string in = scratch_ + "/Footage/Day 03/A001_C004";
  const std::string out = scratch_ + "/Compressed/Day 03/A001_C004";
  std::filesystem::create_directories(in);
  std::filesystem::create_directories(out);
  tamzel::testing::FixtureOptions options;
  options.width = 640;
  options.height = 360;
  options.bitsPerSample = 12;
  const auto samples =
      tamzel::testing::makeSamples(options.width, options.height, options.bitsPerSample,
                                   tamzel::testing::SamplePattern::Realistic);
  const auto dng = tamzel::testing::writeFixtureDng(options, samples);
  for (int i = 1; i <= 24; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/A001_C004_%06d.dng", i);
    tamzel::testing::writeFile(in + name, dng);
  }
  writeSettings("GenerateChecks=1\nVerificationPass=1\n");

  TheFrame* frame = startApp();
  ASSERT_TRUE(pumpUntil([frame] { return frame->IsShownOnScreen(); }, 5));
  shoot(frame, std::string(dir) + "/main-window.png");

  setFolder(true, in);
  setFolder(false, out);
  frame->InputLabel->GetParent()->Layout();
  click(frame->StartButton);
  ASSERT_TRUE(pumpUntil([frame] { return !frame->JobRunning(); }, 60));
  shoot(frame, std::string(dir) + "/main-window-after-job.png");
}

// Shows the About dialog modeless for the picture and closes it.
class ShootAbout : public wxExpectModalBase<AboutDialog, ShootAbout> {
 public:
  explicit ShootAbout(std::string file) : file_(std::move(file)) {}

 protected:
  int OnInvoked(AboutDialog* dialog) const override {
    dialog->Show();
    shoot(dialog, file_);
    dialog->Hide();
    return wxID_CLOSE;
  }

 private:
  std::string file_;
};

TEST_F(ScreenshotTest, AboutDialog) {
  const char* dir = std::getenv("TAMZEL_SCREENSHOT_DIR");
  if (!dir || !*dir) GTEST_SKIP() << "TAMZEL_SCREENSHOT_DIR not set";
  TheFrame* frame = startApp();
  ASSERT_TRUE(pumpUntil([frame] { return frame->IsShownOnScreen(); }, 5));
  const auto about = [frame] {
    wxCommandEvent command(wxEVT_MENU, wxID_ABOUT);
    frame->GetEventHandler()->ProcessEvent(command);
  };
  wxTEST_DIALOG(about(), ShootAbout(std::string(dir) + "/about-dialog.png"));
}

}  // namespace
}  // namespace uitest
