#include <gtest/gtest.h>

#include "framework/app.h"
#include "framework/file_exception.h"

namespace {

class RecordingApp : public CWinApp {
 public:
  explicit RecordingApp(bool fail = false) : CWinApp(u"Recorder"), m_fail(fail) {}
  bool InitInstance() override {
    seenArguments = CommandLineArguments();
    ++initCalls;
    if (m_fail) throw CFileException(CFileException::fileNotFound, 2, u"\\x");
    return false;
  }
  int ExitInstance() override {
    ++exitCalls;
    return 1641;
  }
  plat::WString seenArguments;
  int initCalls = 0;
  int exitCalls = 0;

 private:
  bool m_fail;
};

}  // namespace

TEST(CWinApp, RunsTheLifecycleOnceAndReturnsTheExitCode) {
  RecordingApp app;
  EXPECT_EQ(CWinApp::Current(), &app);
  char prog[] = "/tmp/Setup";
  char a1[] = "/copystvar";
  char a2[] = "a b";
  char* argv[] = {prog, a1, a2, nullptr};
  EXPECT_EQ(CWinApp::Run(3, argv), 1641);
  EXPECT_EQ(app.initCalls, 1);
  EXPECT_EQ(app.exitCalls, 1);
  EXPECT_EQ(app.seenArguments, u"/copystvar \"a b\"");
}

TEST(CWinApp, AnEscapedExceptionStillEndsWithExitInstance) {
  RecordingApp app(true);
  char prog[] = "Setup";
  char* argv[] = {prog, nullptr};
  EXPECT_EQ(CWinApp::Run(1, argv), 1641);
  EXPECT_EQ(app.exitCalls, 1);
}

TEST(CWinApp, NoApplicationObjectIsAnError) {
  { RecordingApp gone; }
  EXPECT_EQ(CWinApp::Current(), nullptr);
  char prog[] = "Setup";
  char* argv[] = {prog, nullptr};
  EXPECT_EQ(CWinApp::Run(1, argv), 1);
}
