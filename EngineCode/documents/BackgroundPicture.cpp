#include "documents/BackgroundPicture.h"

#include "export/PictureServices.h"

void SetCrystalBackgroundImage(CrystalRec *crystal, const std::filesystem::path &picture) {
  if (!crystal)
    return;
  std::error_code ec;
  if (picture.empty() || !std::filesystem::is_regular_file(picture, ec)) {
    crystal->backgroundPicture.clear();
    crystal->backgroundPictureImage.reset();
    return;
  }
  // A slider step keeps the picture already loaded from the same file.
  if (crystal->backgroundPicture == picture && crystal->backgroundPictureImage)
    return;
  crystal->backgroundPicture = picture;
  crystal->backgroundPictureImage = MyLoadGraphicsOffWorld(picture);
  if (!crystal->backgroundPictureImage)
    crystal->backgroundPicture.clear();
}
