#include "Alerts.h"
#include "LongCommand.h"
#include "MemoryBudget.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// An alert never shows under the status window of the command that raised it.
int RunAlert(HostServices *host, const AlertRequest &alert) {
  HideStatusForAlert();
  const KeepMemoryFailures outsideTheOpen;
  return host->RunAlert(alert);
}

void ShowOneButtonAlert(AlertType type, std::string_view message, std::string_view explanation) {
  HostServices *host = GetHostServices();
  if (gProhibitErrorAlerts || !host)
    return;
  AlertRequest alert;
  alert.type = type;
  alert.message = std::string(message);
  alert.explanation = std::string(explanation);
  alert.buttons = {"OK"};
  alert.cancelButton = 0;
  RunAlert(host, alert);
}

std::string OrDefault(std::string_view text, const char *fallback) {
  return text.empty() ? std::string(fallback) : std::string(text);
}

} // namespace

void MyCFStopAlert(std::string_view message, std::string_view explanation) {
  ShowOneButtonAlert(kAlertStopAlert, message, explanation);
}

void MyCFCautionAlert(std::string_view message, std::string_view explanation) {
  ShowOneButtonAlert(kAlertCautionAlert, message, explanation);
}

void MyCFNoteAlert(std::string_view message, std::string_view explanation) {
  ShowOneButtonAlert(kAlertNoteAlert, message, explanation);
}

bool MyCFChoiceAlert(AlertType type, std::string_view message, std::string_view explanation,
                     std::string_view defaultText, std::string_view cancelText) {
  HostServices *host = GetHostServices();
  if (!host)
    return false;
  AlertRequest alert;
  alert.type = type;
  alert.message = std::string(message);
  alert.explanation = std::string(explanation);
  alert.buttons = {OrDefault(defaultText, "OK"), OrDefault(cancelText, "Cancel")};
  alert.cancelButton = 2;
  return RunAlert(host, alert) == 1;
}

int MyCFTripleChoiceAlert(AlertType type, std::string_view message, std::string_view explanation,
                          std::string_view defaultText, std::string_view cancelText,
                          std::string_view otherText) {
  HostServices *host = GetHostServices();
  if (!host)
    return 2;
  AlertRequest alert;
  alert.type = type;
  alert.message = std::string(message);
  alert.explanation = std::string(explanation);
  alert.buttons = {OrDefault(defaultText, "OK"), OrDefault(cancelText, "Cancel")};
  if (!otherText.empty())
    alert.buttons.emplace_back(otherText);
  alert.cancelButton = 2;
  int pressed = RunAlert(host, alert);
  return (pressed >= 1 && pressed <= static_cast<int>(alert.buttons.size())) ? pressed : 2;
}

int16_t CheckError(int16_t code, std::string_view place) {
  if (code == 0)
    return 0;
  char text[320];
  std::snprintf(text, sizeof text, "Sorry, an error of type '%d' occurred at '%.*s'", int(code),
                int(std::min<size_t>(place.size(), 255)), place.data());
  MyCFStopAlert(text);
  if (HostServices *host = GetHostServices())
    host->TerminateProgram(code);
  std::fprintf(stderr, "%s\n", text);
  std::exit(1);
}
