#include "ZapperPuff.h"

#include "shell/FileCommands.h"

#include <QPainter>

ZapperPuffWidget::ZapperPuffWidget(QPixmap image, int frameWidth)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                           Qt::WindowDoesNotAcceptFocus),
      image_(std::move(image)), frameWidth_(frameWidth) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(frameWidth_, image_.height());
  timer_.setInterval(kZapperPuffFrameMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
  timer_.start();
}

void ZapperPuffWidget::Step() {
  if (frame_ + 1 >= kZapperPuffFrames) {
    timer_.stop();
    close(); // deletes the overlay
    return;
  }
  ++frame_;
  update();
}

void ZapperPuffWidget::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(rect(), Qt::transparent);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.drawPixmap(-frame_ * frameWidth_, 0, image_);
}

std::filesystem::path ZapperPuffImagePath() { return BundledResourceFolder("images") / "ToolbarPoof.png"; }

ZapperPuffWidget *ShowZapperPuff(Point globalPoint) { return ShowZapperPuff(globalPoint, ZapperPuffImagePath()); }

ZapperPuffWidget *ShowZapperPuff(Point globalPoint, const std::filesystem::path &image) {
  QPixmap frames;
  if (!frames.load(QString::fromStdString(image.string())))
    return nullptr;
  const int frameWidth = frames.width() / kZapperPuffFrames;
  if (frameWidth < 1 || frames.height() < 1)
    return nullptr;
  auto *puff = new ZapperPuffWidget(frames, frameWidth);
  const int left = static_cast<int>(globalPoint.h - 0.5 * frameWidth);
  const int top = static_cast<int>(globalPoint.v - 0.5 * frames.height());
  puff->move(left, top);
  puff->show();
  return puff;
}
