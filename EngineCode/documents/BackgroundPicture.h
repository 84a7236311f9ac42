// A structure's background picture: the file it names and the picture
// loaded from it, set together so that neither is left without the other.
#pragma once

#include "StructureRecord.h"

#include <filesystem>

// Gives the structure the picture file as its background picture and loads
// it; an empty path or a file that is gone clears the picture.
void SetCrystalBackgroundImage(CrystalRec *crystal, const std::filesystem::path &picture);
