// The MacMolecule 1.x ball-and-stick file and the Chem3D Cartesian file of
// the atoms shown.
#include "export/ExportFrame.h"
#include "export/PDBWriter.h"

#include "Alerts.h"
#include "window/MainWindowData.h"

#include <cmath>

namespace {

const TextExportKind kMacMoleculeKind{"Save MacMolecule text file", ".mm",
                                      "Writing coordinates to a MacMolecule 1.x file", "Closing output file..."};
const TextExportKind kChem3DKind{"Save Chem3D Cartesian text file", ".chem3d", "Writing coordinates to a Chem3D file",
                                 "Closing Chem3D output file..."};

} // namespace

std::string NumToAtomCode(const CrystalRec &c, size_t atom) {
  if (atom >= UsableAtomSize(c) || c.atoms[atom].site >= UsableSiteSize(c))
    return {};
  const uint32_t site = c.atoms[atom].site;
  std::string code;
  Appendf(code, "%c%ld", static_cast<char>('A' + site),
          static_cast<long>(static_cast<int64_t>(atom) - c.sites[site].firstAtom));
  return code;
}

std::string FormatMacMoleculeFile(const CrystalRec &c, std::string_view title, std::string_view version) {
  const std::string ascii = TitleAsAscii(title);
  const std::string v(version);
  std::string o;
  Appendf(o, ";%s\n", ascii.c_str());
  Appendf(o, "; This file created by Orvalisphere %s.\n", v.c_str());
  o += "2 (0.8706,0.8663,0.8750)\n"
       "; Ball-and-stick model\n"
       "BS\n";
  const size_t nSites = UsableSiteSize(c), nTypes = UsableSphereSize(c), nAtoms = UsableAtomSize(c);
  const float m = c.minBSSphereRadius, f = c.bsSphereRadFrac;
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    if (!site.visible)
      continue;
    const std::string e = ElementText(site.elements[0]);
    Appendf(o, "; Atom description for: %c%c (site: %s)\n", e[0], e[1], std::string(SiteLabel(site)).c_str());
    const SphereRecord type = site.atomType < nTypes ? c.spheres[site.atomType] : SphereRecord{};
    Appendf(o, "%c = %6.3f, %6.3f (%6.4f,%6.4f,%6.4f)\n", static_cast<char>('A' + s), double{std::max(m, type.radius)},
            double{std::max(m, f * type.radius)}, type.colour.red / 65535.0, type.colour.green / 65535.0,
            type.colour.blue / 65535.0);
  }
  o += ";\n";
  std::vector<size_t> shown;
  ForEachShownAtom(c, [&](size_t a) { shown.push_back(a); });
  WriteProgress("Writing coordinates to a MacMolecule 1.x file", 0.0f);
  const float total = shown.empty() ? 1.0f : static_cast<float>(shown.size());
  size_t done = 0;
  for (size_t a : shown) {
    const AtomRecord &t = c.atoms[a];
    Appendf(o, "%s :  %9.4f  %9.4f  %9.4f\n", NumToAtomCode(c, a).c_str(), double{t.cart[0]}, double{t.cart[1]},
            double{t.cart[2]});
    WriteProgress("", static_cast<float>(++done) * 100.0f / total);
  }
  o += "; bonds\n";
  done = 0;
  for (size_t a : shown) {
    const AtomRecord &t = c.atoms[a];
    const size_t nBonds = std::min<size_t>(t.bondCount, t.bonds.size());
    if (nBonds == 0)
      continue;
    const std::string own = NumToAtomCode(c, a);
    // Each bond once, from its lower-indexed atom; a partner that is not
    // written in the atom list is left out.
    for (size_t k = 0; k < nBonds; k++) {
      const uint32_t p = t.bonds[k];
      if (p < nAtoms && p >= a && IsAtomShown(c, p))
        o += own + ", " + NumToAtomCode(c, p) + "\n";
    }
    WriteProgress("", static_cast<float>(++done) * 100.0f / total);
  }
  o += kMacMoleculeBullets;
  o += " " + ascii + "\n";
  if (!c.molecule) {
    o += kMacMoleculeBullets;
    Appendf(o, " view direction: [%d %d %d]\n", static_cast<int16_t>(c.viewDirection[0]),
            static_cast<int16_t>(c.viewDirection[1]), static_cast<int16_t>(c.viewDirection[2]));
  }
  o += kMacMoleculeBullets;
  Appendf(o, " This file has been created using Orvalisphere %s\n", v.c_str());
  return o;
}

std::string FormatChem3DFile(const CrystalRec &c) {
  std::vector<size_t> shown;
  ForEachShownAtom(c, [&](size_t a) { shown.push_back(a); });
  std::string o;
  o.reserve(16 + shown.size() * 48);
  WriteProgress("Writing coordinates to a Chem3D file", 0.0f);
  Appendf(o, "%ld\n", static_cast<long>(shown.size()));
  const float total = shown.empty() ? 1.0f : static_cast<float>(shown.size());
  long number = 0;
  for (size_t a : shown) {
    const AtomRecord &t = c.atoms[a];
    const std::string e = ElementText(c.sites[t.site].elements[0]);
    Appendf(o, "%c%c   %5ld   %9.3f%9.3f%9.3f\n", e[0], e[1], ++number, double{t.cart[0]}, double{t.cart[1]},
            double{t.cart[2]});
    WriteProgress("", static_cast<float>(number) * 100.0f / total);
  }
  return o;
}

void DoWriteMMFile(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c || UsableSiteSize(*c) == 0 || UsableAtomSize(*c) == 0 || UsableSphereSize(*c) == 0)
    return;
  if (UsableSiteSize(*c) > kMaxMacMoleculeTypes) {
    MyCFStopAlert(kMacMoleculeTooManyTypes, kMacMoleculeTooManyTypesExplanation);
    return;
  }
  RunTextExport(window, kMacMoleculeKind,
                [&](const ExportContext &ctx) { return FormatMacMoleculeFile(*c, ctx.title, ctx.version); });
}

void DoWriteChem3DFile(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c || (c->sites.empty() && c->atoms.empty()))
    return;
  RunTextExport(window, kChem3DKind, [&](const ExportContext &) { return FormatChem3DFile(*c); });
}
