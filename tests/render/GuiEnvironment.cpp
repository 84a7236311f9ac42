// Fonts need a GUI application object; the tests run it on the offscreen
// platform.
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

class GuiEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    if (!QGuiApplication::instance())
      app_ = std::make_unique<QGuiApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

private:
  int argc_ = 1;
  char name_[16] = "test_render";
  char *argv_[2] = {name_, nullptr};
  std::unique_ptr<QGuiApplication> app_;
};

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

} // namespace
