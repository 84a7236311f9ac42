// The build pipeline replots through the real renderer, which measures and
// draws label text: that needs the GUI application object (GuiEnvironment.h).
#include "GuiEnvironment.h"

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment("test_model"));

} // namespace
