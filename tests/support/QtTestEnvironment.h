#pragma once
// A GoogleTest environment that gives a test program the QGuiApplication the
// image handler needs (offscreen, with the null audio device unless the
// environment says otherwise). Register it once per program:
//
//   [[maybe_unused]] auto* const kQtEnv =
//       ::testing::AddGlobalTestEnvironment(new rdtest::QtTestEnvironment("name"));

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cstdlib>

namespace rdtest {

class QtTestEnvironment : public ::testing::Environment {
 public:
  explicit QtTestEnvironment(const char* program) : program_(program) {}
  void SetUp() override {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (std::getenv("RD_AUDIO_DEVICE") == nullptr) setenv("RD_AUDIO_DEVICE", "null", 1);
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(program_), nullptr};
    if (QGuiApplication::instance() == nullptr) app_ = new QGuiApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  const char* program_;
  QGuiApplication* app_ = nullptr;
};

}  // namespace rdtest
