// The web page export: an HTML 4.01 Transitional report of the structure
// with a JPEG picture of the plot beside it ("<page>_web.jpg", at most 700
// pixels wide, 72 dots per inch).
//
// The page is UTF-8 and says so; the title, site labels and notes are
// escaped, and the picture's name is percent-encoded byte by byte, so any
// name reaches the IMG element. Failures alert as the text exports do and
// remove the picture already written.
#pragma once

#include "HostServices.h"
#include "StructureRecord.h"

#include <string>
#include <string_view>

inline constexpr int kWebPageWidth = 700;

// The command 'xHTM'.
void WriteWebPage(WindowRef window);

// The page's parts, appended to `out` in this order.
void WriteWebPageHeader(std::string &out, const CrystalRec &crystal, std::string_view title,
                        std::string_view pictureName, int width, int height, std::string_view notes);
void WriteMoleculeWebPage(const CrystalRec &crystal, std::string &out);
void WriteCrystalWebPage(const CrystalRec &crystal, std::string &out);
void WriteWebPageFooter(std::string &out);

// The whole page, for tests and the command.
std::string WebPageText(const CrystalRec &crystal, std::string_view title, std::string_view pictureName, int width,
                        int height, std::string_view notes);

// The picture's file name for the page's file name: without a final
// ".html" (else ".htm"), then "_web.jpg".
std::string WebPictureName(std::string_view pageName);
// The name as the IMG element refers to it: the reserved characters and
// every byte outside printable ASCII as "%" and two upper-case hex digits.
std::string WebifyCharString(std::string_view name);
// One value formatted, with every blank outside a tag written "&nbsp;".
void WebPrintf(std::string &out, const char *format, double value);
// &, <, > and " as entities.
std::string HtmlEscape(std::string_view text);
// "Ball-and-Stick", ... "Thermal Ellipsoid", "Unknown".
const char *ModelName(int type);
