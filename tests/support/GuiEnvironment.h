// Fonts need a GUI application object; the tests run it on the offscreen
// platform. A test executable that draws text registers one of these:
//   const auto *const kEnvironment =
//       ::testing::AddGlobalTestEnvironment(new GuiEnvironment("test_name"));
#pragma once

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

class GuiEnvironment : public ::testing::Environment {
public:
  explicit GuiEnvironment(const char *programName) { std::snprintf(name_, sizeof name_, "%s", programName); }
  void SetUp() override {
    if (!QGuiApplication::instance())
      app_ = std::make_unique<QGuiApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

private:
  int argc_ = 1;
  char name_[16] = {};
  char *argv_[2] = {name_, nullptr};
  std::unique_ptr<QGuiApplication> app_;
};
