#pragma once
// The one GoogleTest environment that gives a test program its Qt application
// (offscreen, with the null audio device unless the environment says
// otherwise). Headless suites take a QGuiApplication (the image handler and
// the player's engine need one); the window suites a QApplication with the
// desktop fonts and style (support/QtTestSupport.h registers that one).
// Register it once per program:
//
//   [[maybe_unused]] auto* const kQtEnv =
//       ::testing::AddGlobalTestEnvironment(new rdtest::QtTestEnvironment("name"));

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cstdlib>
#include <functional>

namespace rdtest {

template <typename App>
class BasicQtTestEnvironment : public ::testing::Environment {
 public:
  // `before_start` runs before the application is made (font aliases),
  // `after_start` once it exists (style).
  explicit BasicQtTestEnvironment(const char* program, std::function<void()> before_start = {},
                                  std::function<void()> after_start = {})
      : program_(program),
        before_start_(std::move(before_start)),
        after_start_(std::move(after_start)) {}
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("RD_AUDIO_DEVICE", "null", 0);
    if (before_start_) before_start_();
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(program_), nullptr};
    if (QCoreApplication::instance() == nullptr) app_ = new App(argc, argv);
    if (after_start_) after_start_();
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  const char* program_;
  std::function<void()> before_start_, after_start_;
  App* app_ = nullptr;
};

using QtTestEnvironment = BasicQtTestEnvironment<QGuiApplication>;

}  // namespace rdtest
