// Reading a structure ends in the build pipeline, which replots through the
// real renderer; it measures and draws label text, which needs the GUI
// application object (GuiEnvironment.h).
#include "GuiEnvironment.h"

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment("test_import"));

} // namespace
