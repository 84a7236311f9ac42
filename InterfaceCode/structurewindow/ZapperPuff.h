// The puff of smoke that plays where the zapper (or the add/delete-bond
// tool) made something vanish: five frames of a bundled image, side by
// side, shown one after another in a small frameless overlay that the mouse
// passes through, then gone.
#pragma once

#include "HostServices.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <filesystem>

inline constexpr int kZapperPuffFrames = 5;
// Each frame shows for three ticks of 1/60 second.
inline constexpr int kZapperPuffFrameMs = 50;

class ZapperPuffWidget : public QWidget {
public:
  ZapperPuffWidget(QPixmap image, int frameWidth);
  // The frame showing, 0 to kZapperPuffFrames - 1.
  int Frame() const { return frame_; }
  // Moves to the next frame; after the last one the overlay closes and
  // deletes itself.
  void Step();

protected:
  void paintEvent(QPaintEvent *) override;

private:
  QPixmap image_;
  int frameWidth_;
  int frame_ = 0;
  QTimer timer_;
};

// The bundled image of the five frames.
std::filesystem::path ZapperPuffImagePath();
// Plays the puff centred on a point in global screen coordinates. Answers
// the overlay (it deletes itself after the last frame); null when the image
// is missing or unreadable, and then nothing shows.
ZapperPuffWidget *ShowZapperPuff(Point globalPoint);
ZapperPuffWidget *ShowZapperPuff(Point globalPoint, const std::filesystem::path &image);
