// Binary STL: an 80-byte header, the triangle count (patched once every
// body is written) and one 50-byte little-endian record per triangle. The
// file carries no colour; vertices are Angstrom about the view centre.
//
// The commands of both 3-D exports live here too: they share the dialog,
// the file, the status window and the checks of the written file.
#include "export/Export3D.h"

#include "Alerts.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "export/ExportFrame.h"
#include "render/AtomStyles.h"
#include "window/MainWindowData.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <new>

namespace {

// Little-endian whatever the machine.
void PutU32(std::string &out, uint32_t v) {
  const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
  out.append(b, 4);
}

void PutF32(std::string &out, float f) {
  // Nothing that is not a number reaches a file.
  PutU32(out, std::bit_cast<uint32_t>(std::isfinite(f) ? f : 0.0f));
}

Vertex Centred(const Export3DContext &ctx, const Vertex &v) {
  const float p[3] = {v.x, v.y, v.z};
  Vertex out;
  CopyToCentralisedSTLVector(ctx, &out, p);
  return out;
}

void Triangle(Export3DContext &ctx, const Vertex &n, const Vertex &a, const Vertex &b, const Vertex &c) {
  WriteSTLTriangle(ctx, n, Centred(ctx, a), Centred(ctx, b), Centred(ctx, c));
}

// Index triples with the mean of their corner normals.
void WriteMeshTriangles(Export3DContext &ctx, const VertexArray &v, const VertexArray &n, const IndexArray &ix) {
  for (size_t k = 0; k + 2 < ix.size(); k += 3) {
    Vertex normal;
    AverageSTLNormal3(n[ix[k]], n[ix[k + 1]], n[ix[k + 2]], &normal);
    Triangle(ctx, normal, v[ix[k]], v[ix[k + 1]], v[ix[k + 2]]);
  }
}

// A quad as two triangles with one normal.
void Quad(Export3DContext &ctx, const Vertex &n, const Vertex &a, const Vertex &b, const Vertex &c, const Vertex &d) {
  Triangle(ctx, n, a, b, c);
  Triangle(ctx, n, a, c, d);
}

// The fan of a polygon of `count` indices from `first`.
void Fan(Export3DContext &ctx, const Vertex &n, const VertexArray &v, const uint32_t *ix, size_t count) {
  for (size_t k = 1; k + 1 < count; k++)
    Triangle(ctx, n, v[ix[0]], v[ix[k]], v[ix[k + 1]]);
}

// The pieces of a cylinder that `keep` accepts: their side facets in piece
// order, then their caps.
template <typename Keep>
void WriteCylinder(Export3DContext &ctx, const VertexArray &v, const VertexArray &n, const IndexArray &ix,
                   uint32_t sides, uint32_t pieces, Keep keep) {
  if (v.empty() || sides == 0)
    return;
  const size_t quads = size_t{pieces} * sides * 4;
  for (uint32_t k = 0; k < pieces; k++) {
    if (!keep(k))
      continue;
    for (uint32_t i = 0; i < sides; i++) {
      const size_t at = (size_t{k} * sides + i) * 4;
      Vertex normal;
      const Vertex &ni = n[i], &nj = n[(i + 1) % sides];
      AverageSTLNormal4(ni, nj, nj, ni, &normal);
      Quad(ctx, normal, v[ix[at]], v[ix[at + 1]], v[ix[at + 2]], v[ix[at + 3]]);
    }
  }
  for (uint32_t k = 0; k < pieces; k++) {
    if (!keep(k))
      continue;
    const size_t at = quads + size_t{k} * 2 * sides;
    Fan(ctx, n[sides], v, &ix[at], sides);
    Fan(ctx, n[sides + 1], v, &ix[at + sides], sides);
  }
}

void WriteSphere(Export3DContext &ctx, bool twoColour, bool eightSector, bool cutAway, const Vertex axes[3],
                 const Vertex &centre, VertexArray &v, VertexArray &n, SideFlagArray &sides, IndexArray &ix, bool *ok) {
  *ok = GenerateEllipsoidVertices(ctx, twoColour, eightSector, cutAway, axes, centre, v, n, sides, ix);
  if (*ok)
    WriteMeshTriangles(ctx, v, n, ix);
}

const char *const kAtomStep = "WriteAtomGeometries";

} // namespace

void WriteSTLTriangle(Export3DContext &ctx, const Vertex &normal, const Vertex &v1, const Vertex &v2,
                      const Vertex &v3) {
  std::string &out = ctx.gFP->Text();
  for (const Vertex *p : {&normal, &v1, &v2, &v3}) {
    PutF32(out, p->x);
    PutF32(out, p->y);
    PutF32(out, p->z);
  }
  out.append(2, '\0'); // attribute
  ctx.gTriangles++;
  ctx.gFP->Written();
}

void WriteSTLAtoms(Export3DContext &ctx) {
  const CrystalRec &c = *ctx.gXP;
  try {
    CheckAllocation(ctx, kAtomStep);
    VertexArray v, n, bands[4];
    IndexArray ix, bandIx[4];
    SideFlagArray sides;
    VertexArray bandNormals;
    bool ok = true;
    ForEachSiteAtom(c, [&](uint32_t a, const AsymmetricUnitRecord &site) {
      if (!ok || !ShouldDrawAtom(ctx, a))
        return;
      const AtomRecord &atom = c.atoms[a];
      const SphereRecord &type = c.spheres[atom.atomType];
      const Vertex centre{atom.cart[0], atom.cart[1], atom.cart[2]};
      float radius = type.drawnRadius;
      uint32_t style = type.style;
      if (c.modelType == kStickModel && GetAtomConnectivity(ctx, static_cast<uint32_t>(a)) >= 2) {
        RGBColor joint;
        GetBallJointAttributes(&c, atom.atomType, joint, style);
        radius = BallJointRadius(ctx);
      }
      Vertex axes[3];
      if (c.modelType == kThermalEllipsoidModel && c.ellipsoidData && !site.ignoreEllipsoid) {
        EllipsoidAxisEnds(ctx, atom, axes);
        WriteSphere(ctx, false, false, IsCutAwayEllipsoidStyle(site.ellipsoidStyle), axes, centre, v, n, sides, ix,
                    &ok);
      } else {
        SphereAxisEnds(centre, radius, axes);
        WriteSphere(ctx, IsTwoColourAtomStyle(style), IsEightSectorAtomStyle(style), false, axes, centre, v, n, sides,
                    ix, &ok);
      }
      if (!ok)
        return; // the generator has told the user
      GenerateEllipsoidAttrVerts(ctx, static_cast<uint32_t>(a), axes, centre, bands, bandIx, bandNormals);
      size_t normal = 0;
      for (int b = 0; b < 3; b++)
        for (size_t q = 0; q + 3 < bandIx[b].size() && normal < bandNormals.size(); q += 4, normal++)
          Quad(ctx, bandNormals[normal], bands[b][bandIx[b][q]], bands[b][bandIx[b][q + 1]], bands[b][bandIx[b][q + 2]],
               bands[b][bandIx[b][q + 3]]);
    });
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert(kAtomStep);
  }
}

void WriteSTLBondsCallback(Export3DContext &ctx, const BondRec &bond, uint32_t *counter) {
  (*counter)++;
  try {
    CheckAllocation(ctx, "WriteBondGeometriesCallback");
    VertexArray v, n;
    IndexArray ix;
    uint32_t sides = 0;
    GenerateBondVertices(ctx, bond.start, bond.end, bond.pieces, &sides, v, n, ix, true, bond.radiusA, bond.radiusB,
                         bond.bondRadius);
    if (bond.pieces <= 1) {
      WriteCylinder(ctx, v, n, ix, sides, bond.pieces, [](uint32_t) { return true; });
      return;
    }
    for (uint32_t pass = 0; pass < 2; pass++) {
      if (!((pass == 0 ? bond.opacity1 : bond.opacity2) > 0.0f))
        continue;
      WriteCylinder(ctx, v, n, ix, sides, bond.pieces, [pass](uint32_t k) { return k % 2 == pass; });
    }
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert("WriteBondGeometriesCallback");
  }
}

void WriteSTLBonds(Export3DContext &ctx) {
  uint32_t counter = 0;
  for (const BondRec &bond : ctx.gBonds.Records())
    WriteSTLBondsCallback(ctx, bond, &counter);
}

void WriteSTLPolyhedra(Export3DContext &ctx) {
  const CrystalRec &c = *ctx.gXP;
  try {
    CheckAllocation(ctx, "WritePolyGeometries");
    VertexArray v, n;
    IndexArray ix;
    for (uint32_t host : ctx.gPolyHosts) {
      const AtomRecord &atom = c.atoms[host];
      GeneratePolyVertices(ctx, atom, v, n, ix);
      if (!ShouldDrawPolyFaces(ctx, host, nullptr, nullptr) || n.empty())
        continue;
      const Polyhedron &poly = *AtomPolyhedron(ctx.gXP, atom);
      const size_t nFaces = std::min<size_t>(poly.faceCount, poly.faces.size());
      size_t at = 0, normal = 0;
      for (size_t f = 0; f < nFaces; f++) {
        const size_t count = std::min<size_t>(poly.faces[f].vertexCount, poly.faces[f].vertices.size());
        if (count < 3)
          continue;
        Fan(ctx, n[normal], v, &ix[at], count);
        if (nFaces == 1) {
          // The back of a lone face.
          const Vertex back{-n[normal].x, -n[normal].y, -n[normal].z};
          for (size_t k = 1; k + 1 < count; k++)
            Triangle(ctx, back, v[ix[at + k + 1]], v[ix[at + k]], v[ix[at]]);
          break;
        }
        at += count;
        normal++;
      }
    }
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert("WritePolyGeometries");
  }
}

void WriteSTLSurfaces(Export3DContext &ctx) {
  const CrystalRec &c = *ctx.gXP;
  if (!c.surfaceOverlay)
    return;
  try {
    CheckAllocation(ctx, kAtomStep);
    VertexArray v, n;
    IndexArray ix;
    SideFlagArray sides;
    bool ok = true;
    ForEachSiteAtom(c, [&](uint32_t a, const AsymmetricUnitRecord &) {
      const AtomRecord &atom = c.atoms[a];
      if (!ok || !atom.visible || atom.atomType >= UsableSphereSize(c))
        return;
      const Vertex centre{atom.cart[0], atom.cart[1], atom.cart[2]};
      Vertex axes[3];
      SphereAxisEnds(centre, c.cloudSphereRadFrac * c.spheres[atom.atomType].radius, axes);
      WriteSphere(ctx, false, false, false, axes, centre, v, n, sides, ix, &ok);
    });
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert(kAtomStep);
  }
}

void WriteSTLUnitCell(Export3DContext &ctx) {
  const CrystalRec &c = *ctx.gXP;
  if (!c.showUnitCell)
    return;
  try {
    CheckAllocation(ctx, "WriteUnitCellGeometries");
    std::vector<VertexArray> v, n;
    std::vector<IndexArray> ix;
    std::vector<uint32_t> pieces;
    uint32_t sides = 0;
    if (!GenerateUnitCellVertices(ctx, v, n, ix, pieces, &sides, c.unitCellLineWidth))
      return;
    const bool dashed = !c.unitCellOptions[1];
    for (size_t e = 0; e < v.size(); e++)
      WriteCylinder(ctx, v[e], n[e], ix[e], sides, pieces[e], [dashed](uint32_t k) { return !dashed || k % 2 == 0; });
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert("WriteUnitCellGeometries");
  }
}

void WriteSTLVectors(Export3DContext &ctx) {
  const CrystalRec &c = *ctx.gXP;
  try {
    CheckAllocation(ctx, "WriteVectorGeometries");
    VertexArray v, n;
    IndexArray ix;
    for (uint32_t k : ctx.gVectors) {
      uint32_t s = 0, H = 0;
      if (!GenerateVectorVertices(ctx, c.vectors[k], v, n, ix, &s, &H))
        return;
      if (v.empty() || H == 0)
        continue;
      WriteCylinder(ctx, v, n, ix, s, 1, [](uint32_t) { return true; });
      const size_t cone = size_t{s} * 4 + 2 * size_t{s};
      const Vertex &axis = n[s + 2];
      for (uint32_t t = 0; t < H; t++) {
        Vertex normal;
        AverageSTLNormal3(axis, n[s + 3 + (t + 1) % H], n[s + 3 + t], &normal);
        const size_t at = cone + size_t{t} * 3;
        Triangle(ctx, normal, v[ix[at]], v[ix[at + 1]], v[ix[at + 2]]);
      }
      Fan(ctx, n[s + 3 + H], v, &ix[cone + size_t{H} * 3], H);
    }
  } catch (const std::bad_alloc &) {
    AllocationFailureAlert("WriteVectorGeometries");
  }
}

bool WriteSTLFile(Export3DContext &ctx) {
  if (!MakeBondSet(ctx) || !MakePolyIndexList(ctx) || !MakeVecIndexList(ctx)) {
    ReleaseExportLists(ctx);
    return false;
  }
  ctx.gTriangles = 0;
  std::string &out = ctx.gFP->Text();
  const size_t headerText = std::strlen(kSTLHeaderText);
  out.append(kSTLHeaderText, headerText);
  out.append(kSTLHeaderSize - headerText, '\0');
  PutU32(out, 0); // the count, patched below
  WriteSTLAtoms(ctx);
  WriteSTLBonds(ctx);
  WriteSTLPolyhedra(ctx);
  WriteSTLSurfaces(ctx);
  WriteSTLUnitCell(ctx);
  WriteSTLVectors(ctx);
  std::string count;
  PutU32(count, ctx.gTriangles);
  ctx.gFP->PatchAt(kSTLHeaderSize, count.data(), count.size());
  ReleaseExportLists(ctx);
  return true;
}

namespace {

// What both 3-D commands share: dialog, file, status, the writer and the
// checks of the finished file.
template <typename Write>
bool Run3DExport(WindowRef window, const char *prompt, const char *suffix, const char *status, Write write) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return false;
  HostServices *host = GetHostServices();
  const std::string title = host && window ? host->WindowTitle(window) : std::string();
  std::filesystem::path file;
  if (MyCreateSaveFileDialog(prompt, title + suffix, &file) != 0)
    return false;
  // The model goes to a temporary file that replaces the chosen one only
  // once it is whole.
  AtomicFileWriter out(file);
  if (!out.IsOpen()) {
    AlertExportFailed(kExportOpenFailed, file, out.Reason());
    return false;
  }
  WriteProgress(status, 0.0f);
  Export3DContext ctx;
  ctx.gXP = crystal;
  bool result;
  {
    ExportStream stream(out);
    ctx.gFP = &stream;
    result = write(ctx);
    WriteStatus("Closing output file...");
    stream.Flush();
    ctx.gFP = nullptr;
  }
  ctx.gXP = nullptr;
  if (!result) {
    // Cancelled or refused (its alert given): an earlier file stays.
    out.Abort();
    CloseStatus();
    return false;
  }
  const bool written = out.Commit();
  CloseStatus();
  if (!written) {
    AlertExportFailed(kExportWriteFailed, file, out.Reason());
    return false;
  }
  return true;
}

} // namespace

bool DoWriteSTLFile(WindowRef window) {
  return Run3DExport(window, "Save STL file", ".stl", "Writing structure to an STL file",
                     [](Export3DContext &ctx) { return WriteSTLFile(ctx); });
}

int DoWriteCOLLADAFile(WindowRef window, bool useOwnLighting) {
  COLLADAOptions options;
  options.useOVLighting = useOwnLighting;
  options.version = GetProgramVersion();
  options.stamp = std::time(nullptr);
  return Run3DExport(window, "Save COLLADA schema file", ".dae", "Writing structure to a COLLADA schema file",
                     [&](Export3DContext &ctx) { return WriteCrystalData(ctx, options) == 1; })
             ? 1
             : 0;
}

int32_t DoExport3DCommand(WindowRef window, uint32_t command) {
  switch (command) {
  case kCmdExportSTL:
    DoWriteSTLFile(window);
    return 0;
  case kCmdExportCOLLADA:
    DoWriteCOLLADAFile(window, true);
    return 0;
  default:
    return kEventNotHandledErr;
  }
}
