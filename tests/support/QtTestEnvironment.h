#pragma once
// The GUI application (offscreen) that suites drawing text or pictures need:
//   [[maybe_unused]] auto* const kQtEnv =
//       ::testing::AddGlobalTestEnvironment(new rdtest::QtTestEnvironment("name"));
// Header only: the suites that use it link QtGui themselves.

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cstdlib>
#include <string>

namespace rdtest {

class QtTestEnvironment : public ::testing::Environment {
 public:
  explicit QtTestEnvironment(std::string name) : name_(std::move(name)) {}
  void SetUp() override {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char* argv[] = {name_.data(), nullptr};
    if (QGuiApplication::instance() == nullptr) app_ = new QGuiApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  std::string name_;
  QGuiApplication* app_ = nullptr;
};

}  // namespace rdtest
