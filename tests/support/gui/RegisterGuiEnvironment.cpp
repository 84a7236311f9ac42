// Every test program without widgets draws or measures text somewhere (label
// text in the plots the build pipeline makes, the text helpers themselves),
// and fonts need a GUI application object: this registers one for the whole
// program (GuiEnvironment.h). Programs with widgets make their own.
#include "GuiEnvironment.h"

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment(OV_TEST_NAME));

} // namespace
