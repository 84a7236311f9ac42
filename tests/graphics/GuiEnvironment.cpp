// The GUI application object the text drawing needs (GuiEnvironment.h).
#include "GuiEnvironment.h"

namespace {

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment("test_graphics"));

} // namespace
