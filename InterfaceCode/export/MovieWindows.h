// The movie windows: the rotation movie's options dialog, the floating video
// recorder, and our small compression settings dialog; and the commands
// that open them.
#pragma once

#include "Utilities.h"
#include "export/RotationMovie.h"

#include <QDialog>
#include <QWidget>

#include <memory>

namespace Ui {
class RotationMovie;
class VideoRecorder;
} // namespace Ui

inline constexpr uint32_t kCmdExportRotationMovie = FourCharsToLong("xMov");
inline constexpr uint32_t kCmdExportQTVRMovie = FourCharsToLong("xQVR");
inline constexpr uint32_t kCmdShowVideoRecorder = FourCharsToLong("Vrec");
// The rotation dialog's own commands.
inline constexpr uint32_t kCmdMovieOptions = FourCharsToLong("Mopt");

class RotationMovieDialog : public QDialog {
  Q_OBJECT
public:
  explicit RotationMovieDialog(QWidget *parent = nullptr);
  ~RotationMovieDialog() override;
  QWidget *Control(int controlID) const;

  void SetDefaultRotationMovieSettings();
  void UpdateSubtext();
  bool SaveRotationMovieSettings();
  // The little arrows: control 4 (frames) or 9 (duration).
  void ArrowPressed(int controlID, bool down);
  // 'Mopt', 'ok  ' and 'not!'.
  void Command(uint32_t command);

private:
  double Frames() const;
  double Duration() const;
  std::unique_ptr<Ui::RotationMovie> ui_;
};

// Opens the options dialog over the program (not blocking); OK records the
// movie for the front structure window.
RotationMovieDialog *GetRotationMovieOptions();

class VideoRecorderWindow : public QWidget {
  Q_OBJECT
public:
  VideoRecorderWindow();
  ~VideoRecorderWindow() override;
  QWidget *Control(int controlID) const;
  // Buttons and display from the recorder's state.
  void Refresh();

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void DrawVideoDisplay(QWidget *view);
  std::unique_ptr<Ui::VideoRecorder> ui_;
};

// Creates the recorder on first use, shows and raises it.
VideoRecorderWindow *DoShowVideoWindow();
VideoRecorderWindow *VideoWindow(); // null before the first show

// Joins the movie commands to the chain and installs the windows' hooks.
void InstallMovieCommands();
