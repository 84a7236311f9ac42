#include "export/WebPage.h"

#include "Alerts.h"
#include "documents/CrystalDocument.h"
#include "export/ExportFrame.h"
#include "export/PictureExport.h"
#include "graphics/ImageCopy.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <QString>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char *kWebPictureSuffix = "_web.jpg";
constexpr double kWebPictureDpi = 72.0;
// A blank after this many characters of a notes line starts a new source
// line.
constexpr int kNotesWrapColumn = 81;
constexpr const char *kEscapedNameBytes = "$&+,/:;=?@ \"<>#%{}|\\^~[]`";

constexpr const char *kSectionTable =
    "\t\t\t<TABLE WIDTH=\"%d\" BORDER=\"0\" CELLSPACING=\"0\" CELLPADDING=\"0\"><TR><TD>\n";
constexpr const char *kInnerTable =
    "\t\t\t\t<TABLE WIDTH=\"100%%\" BGCOLOR=\"%s\" BORDER=\"%d\" CELLSPACING=\"%d\" CELLPADDING=\"%d\">\n";
constexpr const char *kRowStart = "\t\t\t\t\t<TR>\n";
constexpr const char *kRowEnd = "\t\t\t\t\t</TR>\n";
constexpr const char *kEmptyHeadCell = "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\"></TD>\n";
constexpr const char *kNumberCell = "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\" ALIGN=\"RIGHT\"><TT>%ld&nbsp;</TT></TD>\n";
constexpr const char *kLabelCell = "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\"><TT>%s</TT></TD>\n";
constexpr const char *kValueCellStart = "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\"><TT>";
constexpr const char *kValueCellEnd = "</TT></TD>\n";
constexpr const char *kBulletCell = "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">&bull;</TD>\n";
constexpr const char *kTableEnd = "\t\t\t\t</TABLE>\n";

void InnerTable(std::string &out) { Appendf(out, kInnerTable, "#AAAAAA", 0, 1, 3); }

// Blanks as "&nbsp;".
std::string NonBreaking(std::string_view text) {
  std::string out;
  for (char ch : text)
    out += ch == ' ' ? std::string("&nbsp;") : std::string(1, ch);
  return out;
}

std::string OccupancyText(const AsymmetricUnitRecord &site) {
  std::string out;
  for (int k = 0; k < kMaxSiteElements; k++) {
    if (!(site.occupancies[k] > 0.0f))
      continue;
    const std::string e = ElementText(site.elements[k]);
    out += e;
    out += ' ';
    out += MyTrimSprintf("%.4f", double{site.occupancies[k]});
    out += ' ';
  }
  return out;
}

long EsdCode(float esd, double factor) { return std::lround(double{esd} * factor); }

// The notes as paragraphs: line ends close one and open the next; long
// lines are wrapped at a blank.
std::string NotesHtml(std::string_view notes) {
  const QString text = QString::fromUtf8(notes.data(), qsizetype(notes.size()));
  std::string out;
  int count = 0;
  for (QChar ch : text) {
    const char16_t u = ch.unicode();
    if (u == '\n' || u == '\r') {
      out += "</P>\n\t\t\t\t\t<P>";
      count = 0;
      continue;
    }
    if (u == ' ' && count >= kNotesWrapColumn) {
      out += "\n\t\t\t\t\t";
      count = 0;
      continue;
    }
    switch (u) {
    case 0x00C5:
    case 0x212B:
      out += "&Aring;";
      break;
    case 0x00B0:
      out += "&deg;";
      break;
    case 0x2013:
    case 0x2014:
      out += "--";
      break;
    case '\t':
      out += "&nbsp;&nbsp;&nbsp;&nbsp;";
      break;
    default:
      out += HtmlEscape(QString(ch).toStdString());
      break;
    }
    count++;
  }
  return out;
}

} // namespace

const char *ModelName(int type) {
  switch (type) {
  case 1:
    return "Ball-and-Stick";
  case 2:
    return "Space-Filling";
  case 3:
    return "Polyhedral";
  case 4:
    return "Wireframe";
  case 5:
    return "Stick";
  case 6:
    return "Thermal Ellipsoid";
  default:
    return "Unknown";
  }
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  for (char ch : text) {
    switch (ch) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      out += ch;
    }
  }
  return out;
}

std::string WebPictureName(std::string_view pageName) {
  std::string stem(pageName);
  const auto endsWith = [&](std::string_view s) {
    return stem.size() >= s.size() && stem.compare(stem.size() - s.size(), s.size(), s) == 0;
  };
  if (endsWith(".html"))
    stem.resize(stem.size() - 5);
  else if (endsWith(".htm"))
    stem.resize(stem.size() - 4);
  return stem + kWebPictureSuffix;
}

std::string WebifyCharString(std::string_view name) {
  std::string out;
  for (char ch : CutUtf8(name, 255)) {
    const auto byte = static_cast<uint8_t>(ch);
    if (byte < 31)
      continue;
    if (byte >= 127 || std::strchr(kEscapedNameBytes, ch))
      Appendf(out, "%%%X", unsigned(byte));
    else
      out += ch;
  }
  return out;
}

void WebPrintf(std::string &out, const char *format, double value) {
  std::string text;
  Appendf(text, format, value);
  text = CutUtf8(text, 255);
  bool inTag = false;
  for (char ch : text) {
    if (ch == '<')
      inTag = true;
    else if (ch == '>')
      inTag = false;
    if (ch == ' ' && !inTag)
      out += "&nbsp;";
    else
      out += ch;
  }
}

void WriteWebPageHeader(std::string &out, const CrystalRec &crystal, std::string_view title,
                        std::string_view pictureName, int width, int height, std::string_view notes) {
  const std::string src = WebifyCharString(pictureName);
  const std::string safeTitle = HtmlEscape(TitleAsText(title));
  const std::string version = GetProgramVersion();
  out += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\"\n";
  out += "        \"http://www.w3.org/TR/html4/loose.dtd\">\n";
  out += "<HTML>\n";
  out += "\t<HEAD>\n";
  out += "\t\t<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n";
  Appendf(out, "\t\t<META NAME=\"GENERATOR\" CONTENT=\"Orvalisphere %s for Linux\">\n", version.c_str());
  Appendf(out, "\t\t<TITLE>%s</TITLE>\n", safeTitle.c_str());
  out += "\t</HEAD>\n\n";
  out += "\t<BODY BGCOLOR=\"#FFFFFF\">\n";
  out += "\t\t<CENTER>\n";
  out += "\t\t\t<FONT SIZE=\"-1\">Orvalisphere ";
  out += crystal.molecule ? "Molecular " : "Crystal ";
  out += "Structure Report</FONT>\n";
  Appendf(out, "\t\t\t<H1>%s</H1>\n", safeTitle.c_str());
  Appendf(out, "\t\t\t<P>%s Model</P>\n", ModelName(crystal.modelType));
  Appendf(out, "\t\t\t<IMG SRC=\"%s\" WIDTH=\"%d\" HEIGHT=\"%d\" BORDER=\"0\"\n", src.c_str(), width, height);
  out += "\t\t\t\t ALT=\"Orvalisphere image\" TITLE=\"Orvalisphere image\">\n";
  out += "\t\t\t<BR><BR>\n";
  if (!notes.empty()) {
    Appendf(out, "\t\t\t<TABLE WIDTH=\"%d\" BGCOLOR=\"%s\" BORDER=\"%d\" CELLSPACING=\"%d\" CELLPADDING=\"%d\">\n",
            kWebPageWidth, "#AAAAAA", 0, 1, 3);
    out += "\t\t\t\t<TR><TD BGCOLOR=\"#FFFFFF\">\n";
    out += "\t\t\t\t\t<P>";
    out += NotesHtml(notes);
    out += "\t\t\t\t\t</P>\n";
    out += "\t\t\t\t</TD></TR>\n";
    out += "\t\t\t</TABLE>\n";
  }
  out += "\t\t\t<BR>\n";
}

void WriteMoleculeWebPage(const CrystalRec &c, std::string &out) {
  Appendf(out, kSectionTable, kWebPageWidth);
  out += "\t\t\t\t<CENTER><H3>Molecular Data</H3></CENTER>\n";
  out += "\t\t\t\t<H4>Orthogonal Coordinates for Displayed Atoms</H4>\n";
  InnerTable(out);
  out += kRowStart;
  out += kEmptyHeadCell;
  out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\">Label</TD>\n";
  out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\">Occupancy</TD>\n";
  for (const char *axis : {"x", "y", "z"})
    Appendf(out, "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\"><TT>&nbsp;&nbsp;&nbsp;</TT>%s [&Aring;]</TD>\n", axis);
  out += kRowEnd;
  const size_t nAtoms = UsableAtomSize(c), nSites = UsableSiteSize(c);
  for (size_t a = 0; a < nAtoms; a++) {
    const AtomRecord &atom = c.atoms[a];
    if (!atom.visible || atom.site >= nSites)
      continue;
    const AsymmetricUnitRecord &site = c.sites[atom.site];
    out += kRowStart;
    Appendf(out, kNumberCell, long(a + 1));
    Appendf(out, kLabelCell, HtmlEscape(SiteLabel(site)).c_str());
    Appendf(out, kLabelCell, OccupancyText(site).c_str());
    for (int k = 0; k < 3; k++) {
      std::string v;
      Appendf(v, "%8.3f", double{atom.cart[k]});
      out += kValueCellStart;
      out += NonBreaking(v);
      out += kValueCellEnd;
    }
    out += kRowEnd;
  }
  out += kTableEnd;
  out += "\t\t\t\n";
  out += "\t\t\t</TD></TR></TABLE>\n";
}

void WriteCrystalWebPage(const CrystalRec &c, std::string &out) {
  Appendf(out, kSectionTable, kWebPageWidth);
  out += "\t\t\t\t<CENTER><H3>Crystal Structure Data</H3></CENTER>\n";
  out += "\t\t\t\t<H4>Symmetry</H4>\n";
  InnerTable(out);
  const int n = std::min<int>(c.cardCount, kMaxSymCards);
  if (n == 0) {
    out += kRowStart;
    out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\" WIDTH=\"150\" ALIGN=RIGHT>Spacegroup Symbol:</TD>\n";
    const auto first = static_cast<uint8_t>(c.spaceGroup[0]);
    if (first == 0 || first >= 128)
      Appendf(out, "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\" COLSPAN=\"%d\"><TT>(not used)</TT></TD>\n", 2);
    else
      Appendf(out, "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\" COLSPAN=\"%d\"><TT>%s</TT></TD>\n", 2,
              HtmlEscape(CStrView(std::span<const char>(c.spaceGroup))).c_str());
    out += kRowEnd;
    if (c.originShift[0] != 0.0f || c.originShift[1] != 0.0f || c.originShift[2] != 0.0f) {
      out += kRowStart;
      out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\" WIDTH=\"150\" ALIGN=RIGHT>Origin Offset:</TD>\n";
      Appendf(out, "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\" COLSPAN=\"%d\"><TT>{%6.3f, %6.3f, %6.3f}</TT></TD>\n", 2,
              double{c.originShift[0]}, double{c.originShift[1]}, double{c.originShift[2]});
      out += kRowEnd;
    }
  }
  out += kRowStart;
  out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\" WIDTH=\"150\" ALIGN=RIGHT>Lattice Type:</TD>\n";
  Appendf(out, "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\" COLSPAN=\"%d\"><TT>%c</TT></TD>\n", 2, c.latticeLetter);
  out += kRowEnd;
  if (n > 0) {
    const int h = (n + 1) / 2;
    out += kRowStart;
    out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\" WIDTH=\"150\" VALIGN=\"TOP\" ALIGN=RIGHT>General Equivalent "
           "Positions:</TD>\n";
    for (int cell = 0; cell < 2; cell++) {
      out += "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><TT>\n";
      for (int line = 0; line < h; line++) {
        const int k = cell * h + line;
        out += "\t\t\t\t\t\t\t";
        if (k < n)
          out += NonBreaking(CStrView(std::span<const char>(c.symCards[size_t(k)])));
        out += "<BR>\n";
      }
      out += "\t\t\t\t\t\t</TT></TD>\n";
    }
    out += kRowEnd;
  }
  out += kTableEnd;
  out += "\t\t\t\t\n";
  out += "\t\t\t\t<H4>Unit Cell Parameters</H4>\n";
  InnerTable(out);
  out += kRowStart;
  for (const char *axis : {"a", "b", "c"})
    Appendf(out, "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\">%s [&Aring;]</TD>\n", axis);
  out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\">&alpha; [&deg;]</TD>\n";
  out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\">&beta; [&deg;]</TD>\n";
  out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\">&gamma; [&deg;]</TD>\n";
  out += kRowEnd;
  out += kRowStart;
  const float cell[6] = {c.a, c.b, c.c, c.alpha, c.beta, c.gamma};
  for (int k = 0; k < 6; k++) {
    Appendf(out, k < 3 ? "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\"><TT>%8.4f" : "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\"><TT>%8.3f",
            double{cell[k]});
    if (c.esdFlag)
      Appendf(out, "(%ld)", EsdCode(c.cellEsds[k], k < 3 ? 10000.0 : 1000.0));
    out += "</TT></TD>\n";
  }
  out += kRowEnd;
  out += kTableEnd;
  out += "\t\t\t\t\n";
  out += "\t\t\t\t<H4>Fractional Coordinates of Atoms in the Asymmetric Unit</H4>\n";
  InnerTable(out);
  out += kRowStart;
  out += kEmptyHeadCell;
  out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\">Site</TD>\n";
  out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\">Occupancy</TD>\n";
  for (const char *axis : {"x", "y", "z"})
    Appendf(out, "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\"><TT>&nbsp;&nbsp;</TT>%s</TD>\n", axis);
  out += kRowEnd;
  const size_t nSites = UsableSiteSize(c);
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    out += kRowStart;
    Appendf(out, kNumberCell, long(s + 1));
    Appendf(out, kLabelCell, HtmlEscape(SiteLabel(site)).c_str());
    Appendf(out, kLabelCell, OccupancyText(site).c_str());
    for (int k = 0; k < 3; k++) {
      WebPrintf(out, "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\"><TT>%8.4f", double{site.xyz[k]});
      if (c.esdFlag)
        Appendf(out, "(%ld)", EsdCode(site.esd[k], 10000.0));
      out += "</TT></TD>\n";
    }
    out += kRowEnd;
  }
  out += kTableEnd;
  out += "\t\t\t\t\n";
  if (!c.ellipsoidData) {
    out += "\t\t\t</TD></TR></TABLE>\n";
    return;
  }
  out += "\t\t\t\t<H4>Atomic Displacement Parameters</H4>\n";
  InnerTable(out);
  out += kRowStart;
  out += kEmptyHeadCell;
  out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\">Site</TD>\n";
  for (const char *u : {"U11", "U22", "U33", "U23", "U13", "U12", "Uiso"})
    Appendf(out, "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\"><TT>&nbsp;&nbsp;</TT>%s</TD>\n", u);
  out += "\t\t\t\t\t\t<TD BGCOLOR=\"#EEEEEE\" ALIGN=\"CENTER\">Type</TD>\n";
  out += kRowEnd;
  constexpr const char *kValue = "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\"><TT>%8.4f</TT></TD>\n";
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    out += kRowStart;
    Appendf(out, kNumberCell, long(s + 1));
    Appendf(out, kLabelCell, HtmlEscape(SiteLabel(site)).c_str());
    if (site.displacementType == kDisplacementIsotropic) {
      for (int k = 0; k < 6; k++)
        out += kBulletCell;
      WebPrintf(out, kValue, double{site.isoValue});
      out += "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><TT>Uiso</TT></TD>\n";
    } else if (site.displacementType == kDisplacementAnisoU || site.displacementType == kDisplacementAnisoB) {
      for (int k : {0, 4, 8, 5, 2, 1})
        WebPrintf(out, kValue, double{site.tensor[k]});
      out += kBulletCell;
      out += "\t\t\t\t\t\t<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><TT>";
      out += site.displacementType == kDisplacementAnisoB ? "Bij" : "Uij";
      out += "</TT></TD>\n";
    } else {
      for (int k = 0; k < 8; k++)
        out += kBulletCell;
    }
    out += kRowEnd;
  }
  out += kTableEnd;
  out += "\t\t\t\t\n";
  out += "\t\t\t</TD></TR></TABLE>\n";
}

void WriteWebPageFooter(std::string &out) {
  const std::string version = GetProgramVersion();
  out += "\t\t\t<BR>\n";
  Appendf(out, "\t\t\t<TABLE WIDTH=\"%d\" BORDER=\"0\" CELLSPACING=\"0\" CELLPADDING=\"0\">\n", kWebPageWidth);
  out += "\t\t\t\t<TR><TD ALIGN=\"CENTER\">\n";
  out += "\t\t\t\t<HR>\n";
  out += "\t\t\t\t\n";
  out += "\t\t\t\t<FONT SIZE=\"-1\">\n";
  Appendf(out, "\t\t\t\t\tThis page was created by Orvalisphere %s for Linux<BR>\n", version.c_str());
  out += "\t\t\t\t</FONT>\n";
  out += "\t\t\t\t</TD></TR>\n";
  out += "\t\t\t</TABLE>\n";
  out += "\t\t</CENTER>\n";
  out += "\t</BODY>\n";
  out += "</HTML>\n";
}

std::string WebPageText(const CrystalRec &crystal, std::string_view title, std::string_view pictureName, int width,
                        int height, std::string_view notes) {
  std::string out;
  WriteWebPageHeader(out, crystal, title, pictureName, width, height, notes);
  if (crystal.molecule)
    WriteMoleculeWebPage(crystal, out);
  else
    WriteCrystalWebPage(crystal, out);
  WriteWebPageFooter(out);
  return out;
}

void WriteWebPage(WindowRef window) {
  const CrystalRec *c = window && IsWindowFileOpen(window) ? GetWindowCrystal(window) : nullptr;
  if (!c)
    return;
  const OVImageHandle handle =
      c->stereoOn && c->stereoMode == kRedBlueStereo ? GetWindowTransferBuffer(window) : GetWindowOffScreen(window);
  const ovgfx::PixelBuffer *picture = OffScreenPixels(handle);
  if (!picture)
    return;
  const std::string notes = gDocumentWindowHooks.getNotes ? gDocumentWindowHooks.getNotes(window) : std::string();
  HostServices *host = GetHostServices();
  const std::string title = host ? host->WindowTitle(window) : std::string();
  std::filesystem::path page;
  if (MyCreateSaveFileDialog("Save web page", title + ".html", &page) != 0)
    return;
  const std::string pictureName = WebPictureName(page.filename().string());
  const std::filesystem::path pictureFile = page.parent_path() / pictureName;

  // The picture and the page go to temporary files, which replace earlier
  // files of their names only once both are whole.
  AtomicFileWriter pictureOut(pictureFile);
  std::string reason;
  Rect bounds;
  GetWindowOffBounds(window, &bounds);
  int width = bounds.Width(), height = bounds.Height();
  int err = 0;
  if (width > kWebPageWidth) {
    height = height * kWebPageWidth / width;
    width = kWebPageWidth;
    OVImageHandle scaled;
    err = MakeGWorld(scaled, MakeRect(0, 0, width, std::max(height, 1)), kOffScreenDepth);
    if (err != 0) {
      reason = "out of memory";
    } else {
      ovgfx::GraphicsPort port(OffScreenPixels(scaled));
      port.SetForeColor(kRGBBlack);
      port.SetBackColor(kRGBWhite);
      ovgfx::CopyPixels(*picture, port, picture->Bounds(), port.PortRect(), ovgfx::kCopySource);
      err = QTExportGWorldToWriter(*OffScreenPixels(scaled), pictureOut, kJPEGFileType, kWebPictureDpi, &reason);
    }
  } else {
    err = QTExportGWorldToWriter(*picture, pictureOut, kJPEGFileType, kWebPictureDpi, &reason);
  }
  if (err != 0) {
    AlertExportFailed(kExportWriteFailed, pictureFile, reason);
    return;
  }
  const std::string text = WebPageText(*c, title, pictureName, width, height, notes);
  AtomicFileWriter pageOut(page);
  if (!pageOut.Write(text)) {
    AlertExportFailed(pageOut.IsOpen() ? kExportWriteFailed : kExportOpenFailed, page, pageOut.Reason());
    return;
  }
  if (!pictureOut.Commit()) {
    AlertExportFailed(kExportWriteFailed, pictureFile, pictureOut.Reason());
    return;
  }
  if (!pageOut.Commit())
    AlertExportFailed(kExportWriteFailed, page, pageOut.Reason());
}
