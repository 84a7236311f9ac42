// Coordination polyhedra.
//
// A coordination polyhedron is the convex shape spanned by the atoms bonded
// to a central atom. `DefinePolyhedra` builds one for every atom whose bond
// count reaches its site's coordination number (and is at least 3), once the
// bond search has filled the bonds lists, and then decides for every site how
// it takes part in the polyhedral model (centre, vertex, lone atom) through
// the site's polyhedron display mode, which the renderer reads.
//
// Faces come from a plane-through-three-points hull: every non-collinear
// triple of ligands spans a plane; the plane is a face when no ligand lies
// beyond it on the far side from the ligands' centroid; ligands within
// kCoplanarTolerance of the plane join the face, and faces of four or more
// vertices are put in angular order. Five or more ligands are thinned first:
// a ligand inside the tetrahedron of the centre and three other ligands is
// dropped. A flat set of ligands gives one face; when the centre lies more
// than kPyramidTolerance off that plane it becomes a vertex itself.
//
// Polyhedron faces list vertex atoms (indices into the atoms array) in
// drawing order; the working routines `MakeFaces`, `IsInternalFace` and
// `SortFaceVertices` work on positions in a point list instead.
//
// The packed form `PackedPolyRec` (documents of the older layouts) stores each
// vertex as its position in the central atom's bonds list.
//
// Developer diagnostics go to standard error; warnings for the user go to the
// Log pane in red.
#pragma once

#include "StructureRecord.h"

#include <cstdint>
#include <optional>
#include <vector>

// ---- Site polyhedron display modes ---------------------------------------------
// How the renderer treats a site in the polyhedral model. The names are those
// of the mode icons; 0 means that the site has no role yet.
enum PolyhedronDisplayMode : uint32_t {
  kPolyModeUnset = 0,
  kPolyModeVertex = 1, // a vertex of a higher-coordinated centre: drawn by its centre
  kPolyModeAtom = 2,
  kPolyModeOpen = 3,
  kPolyModeOpenAtom = 4,
  kPolyModeOpenAtomBonds = 5,
  kPolyModeAtomWireBonds = 6,
  kPolyModeAtomStickBonds = 7,
  kPolyModeOpenFill = 8,
  kPolyModeOpenFillAtom = 9,
  kPolyModeOpenFillAtomBonds = 10,
  kPolyModeWireBonds = 11,
  kPolyModeStickBonds = 12,
  kPolyModeSolidFill = 13,
  kPolyModePatternShaded = 14,
  kPolyModeColourShaded = 15,
};

// ---- Tolerances -----------------------------------------------------------------------
// A ligand within this distance of a face's plane joins the face (Angstrom).
inline constexpr float kCoplanarTolerance = 0.05f;
// A face whose plane passes this close to the ligands' centroid counts as
// internal unless every ligand lies in it (Angstrom).
inline constexpr float kInternalFaceTolerance = 0.001f;
// A flat set of ligands makes a pyramid with the centre when the centre lies
// farther than this from their plane (Angstrom).
inline constexpr float kPyramidTolerance = 0.1f;
// Thinning starts where the squared ligand distance first drops by this much
// (square Angstrom).
inline constexpr float kThinningDistanceStep = 0.001f;
// Two unit face normals of a tetrahedron are the same when the sum of their
// component differences is below this: the tetrahedron is flat.
inline constexpr float kFlatTetrahedronTolerance = 0.01f;
// Two ligands closer than the root of this (square Angstrom) overlap.
inline constexpr float kOverlapDistanceSq = 0.01f;
// Angular order: a cosine beyond this in magnitude is taken as 0 or 180
// degrees, and a cross-product component must exceed the second value in
// magnitude to tell the side.
inline constexpr double kSortCosineLimit = 0.99999;
inline constexpr double kSortSideTolerance = 1e-7;
// Coordinating sites: an image of the site itself closer than this is the
// site (Angstrom).
inline constexpr float kCoordinatingSelfDistance = 0.01f;
// Coordinating sites: translations are tried this far (fractional) beyond
// the reach of the search sphere, so that rounding never loses an image at
// the limit; the distance test decides.
inline constexpr double kCoordinatingReachMargin = 1e-5;

// ---- Working records --------------------------------------------------------------------
// One ligand of a centre while its polyhedron is made.
struct LigandEntry {
  uint32_t atom = 0;   // the ligand's atom index
  uint8_t usable = 1;  // 0 once the ligand is dropped
  float distSq = 0.0f; // squared distance from the centre, square Angstrom
};

// Orders ligands farthest first (descending squared distance).
bool CompareLigandsByDistance(const LigandEntry &a, const LigandEntry &b);

// ---- Interfaces ---------------------------------------------------------------------------

// Rebuilds every atom's polyhedron from the bonds lists and updates every
// site's polyhedron display mode (a mode the user chose survives). Leaves the
// status window open for its caller. A ligand within the overlap distance
// (kOverlapDistanceSq) of the centre or of an earlier ligand in the bonds
// list is left out before the search; the build names the first such pair
// in the Log and counts the others in one more line. The user may cancel a
// build that runs long enough to show the status window (the host's cancel
// check, CancelPoll.h), between centres or within one: no atom then keeps a
// polyhedron, the site modes are still set, the status window closes and
// the Log says so.
void DefinePolyhedra(CrystalRec *crystal);
// The same, with the polyhedra themselves left to be made when first needed
// (DerivedLayers::PolyhedraDue), unless the structure is in the polyhedral
// model: a large structure in another model never pays for them. The
// polyhedral model's plot, and AtomPolyhedron (StructureRecord.h), through
// which everything else reads polyhedra, make them with
// DefinePendingPolyhedra, from the bonds as they stand then: the same
// polyhedra, the same order, the same flag bytes, the same warnings in the
// Log. False when the user stopped the making: none is held and they are no
// longer due (a caller may leave them due again).
//
// The site roles of a crystal with bonds are left due too: they may search
// the whole crystal around every site, and a structure never drawn as
// polyhedra does not need them. SitePolyMode (StructureRecord.h), through
// which every mode is read, and DefinePendingPolyhedra derive them, once,
// from the bonds as they stand then; they write no crowded-site line (the
// open writes it once, TellCrowdedSitesAfterBonding). A command that changes
// the bonds, the atoms or the sites says so first (NoteStructureChange,
// DerivedLayers.h), so that the roles are those of the structure the build
// left.
//
// The builds tell the structure's derived layers what they made (BondsMade,
// DerivedLayers.h), which call this.
void DefinePolyhedraWhenNeeded(CrystalRec *crystal);
bool DefinePendingPolyhedra(CrystalRec *crystal);
// The roles of the sites derived from the bonds as they stand, composed with
// the modes the sites show, into the sites' derived modes; nothing given
// changes. With tellCrowded, the sites found crowded are told in the Log.
void DeriveSiteRoles(const CrystalRec &crystal, bool tellCrowded);
// The polyhedra a save writes while the structure's are due. The first
// save makes them as DefinePendingPolyhedra does; they are then held for
// the saves after it, as long as the atoms, bonds, sites and flags they are
// made from stay as they were (no change told since, DerivedLayers.h, and
// the same digest of them), so that a later save costs the encoding alone.
// For every other reader (AtomPolyhedron, the undo states) they stay due.
// While this lives they are the structure's own, for the encoder.
class PolyhedraForSave {
public:
  explicit PolyhedraForSave(CrystalRec &crystal);
  ~PolyhedraForSave();
  PolyhedraForSave(const PolyhedraForSave &) = delete;
  PolyhedraForSave &operator=(const PolyhedraForSave &) = delete;
  // False when the user stopped the making: none is held.
  bool Ready() const { return ready_; }

private:
  CrystalRec &crystal_;
  bool pending_ = false;
  bool ready_ = true;
  bool reused_ = false;
  std::vector<uint8_t> flags_;
};

// The polyhedra left to be made again when first needed, their flag bytes
// the site modes as the roles leave them: what a second build over the same
// bonds would make, without deriving the roles twice (BondsMadeAgain,
// DerivedLayers.h, which the builds call).
void RemakePolyhedraWhenNeeded(CrystalRec *crystal);

// A new polyhedron whose candidate vertices are the given atoms; its vertex
// entries are atom indices. Exactly three atoms give one face in the given
// order. None, with "Polyhedral creation failed" in red in the Log, when no
// face can be found.
std::optional<Polyhedron> GenPoly(CrystalRec *crystal, uint32_t count, const uint32_t *atoms);

// The hull faces of a point list; vertex entries are positions 0 to count - 1
// and *vertexCount the number of distinct positions used. Overlapping points
// are reported in the Log and left out. None (and *vertexCount 0) when no
// face is found.
std::optional<Polyhedron> MakeFaces(CrystalRec *crystal, int32_t count, const float (*points)[3],
                                    uint32_t *vertexCount);

// Extends the face (its first three entries set, *faceCount 3, room for
// count entries) with the usable points that lie in its plane, and answers
// whether it must be rejected because a point lies beyond it on the far side
// from the centre. A plane that contains every usable point is the single
// face of a flat polyhedron and is never rejected.
bool IsInternalFace(int32_t count, const float (*points)[3], const float centre[3], const uint8_t *usable,
                    int32_t *faceCount, uint32_t *face);

// True when some face of the polyhedron with more than faceCount vertices
// holds every vertex of the candidate face.
bool IsDuplicateFace(const uint32_t *face, int32_t faceCount, const Polyhedron *poly);

// Puts the vertices of every face with more than three vertices in angular
// order around the face's centroid, the first vertex staying first. The face
// entries are positions in the point list. A face whose vertices are all
// collinear stops the sorting (it and later faces keep their order).
void SortFaceVertices(const float (*points)[3], Polyhedron *poly);

// The first atom whose Cartesian coordinates equal xyz exactly.
bool GetAtomWithOrthoCoords(const CrystalRec *crystal, const float xyz[3], uint32_t *atom);

// The distinct vertex atoms in order of first appearance over the faces, at
// most the polyhedron's vertex count of them; *count is their number. When
// fewer are found, "Polyhedron contains fewer vertices than expected" goes to
// the Log. Empty for no polyhedron or one without vertices.
std::vector<uint32_t> GetPolyhedronVertices(const Polyhedron *poly, uint32_t *count);

// True when every distinct vertex atom is there and visible.
bool IsPolyhedronIntact(const CrystalRec *crystal, const Polyhedron *poly);

// The polyhedron of a packed record for the atom, its vertices taken from
// the atom's bonds list. None when there is no record, the atom has no
// bonds, or the record holds no face; none with "Invalid polyhedron saved
// for atom %ld (%s)" in red when the record is shorter than its header
// announces or a vertex byte points past the bonds list. A polyhedron whose
// distinct vertices do not number the bond count is reported and returned.
std::optional<Polyhedron> UnpackPoly(CrystalRec *crystal, uint32_t atom, const PackedPolyRec *packed);

// The packed form of the atom's polyhedron. None when the atom has no
// polyhedron or it cannot be stored: a face of fewer than 3 or more than 8
// vertices, more than 255 faces of one size, more than 256 vertex bytes, or a
// vertex that is not in the atom's first 256 bonds (the centre of a pyramid).
std::optional<PackedPolyRec> PackPolyhedron(CrystalRec *crystal, uint32_t atom);

// The role of a site in the polyhedral model: whether it is a vertex of a
// higher-coordinated centre, and whether it bonds to its own site. A site
// with more atoms within bond reach than bonds is judged from as many of them
// as it has bonds; such sites are added to *crowded, or told in the Log
// (TellCrowdedSites) without it.
void CheckPolyVertexSite(const CrystalRec *crystal, uint32_t site, bool *isVertex, bool *bondsToOwnSite,
                         std::vector<uint32_t> *crowded = nullptr);

// One Log line naming the sites that role questions found crowded; nothing
// for none.
void TellCrowdedSites(const CrystalRec &crystal, std::vector<uint32_t> sites);

// The crowded-site line of a crystal just bonded: every site with bonds that
// has more atoms within bond reach than bonds, counted over the whole
// crystal without setting any role. Nothing for a molecule. Stops, telling
// nothing, once the user stops the command.
void TellCrowdedSitesAfterBonding(CrystalRec *crystal);

// The sites whose atoms coordinate the given site over the whole crystal:
// one entry per image within the maximum length of the first bond
// specification naming the pair, at most the site's coordination number of
// them. Answers the number listed; no mode changes.
int32_t GetCoordinatingAtoms(const CrystalRec *crystal, uint32_t site, std::vector<int32_t> *sites);

// One Log line when the polyhedral model holds no polyhedron at all, so
// that an empty picture is not left without a word: why none is drawn and,
// for a crystal whose sites coordinate three or more atoms, that a wider
// plot range makes whole ones. Nothing in another model, while the
// polyhedra are still to be made, or when any atom has one.
void TellWhyNoPolyhedronIsDrawn(const CrystalRec &crystal);
