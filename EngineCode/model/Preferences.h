// The program-wide preferences record, its factory copy and the blank record
// templates.
//
// `gPrefs` holds the program and window settings, the default display
// settings that every new structure copies, the defaults for new annotation
// objects and vectors, the element table with its notes, and the heads of the
// recent-files and favourites lists. `gFactoryPrefs` is the same record with
// the factory values; it never changes. At start-up the factory record is
// copied into `gPrefs`, the preferences file is read over it, and
// `InitOVGlobals` fills the blank templates from it. The templates then keep
// those defaults for the whole run, even when the preferences change.
//
// The layout here is the in-memory one; the preferences file has its own.
#pragma once

#include "ElementTable.h"
#include "StructureRecord.h"

#include <array>
#include <cstdint>

struct CachedFileRecord;

struct PrefsRecord {
  // ---- Structure windows ----
  Rect windowBounds;                  // saved structure window bounds; right 0: none saved
  uint8_t windowSettingsRecorded = 0; // set once the window settings were saved
  Str255 windowFontName = MakeStr255("Geneva");
  uint8_t rulerUnits = 1; // 1 Angstrom, 2 nanometre
  uint8_t fillScreen = 0;
  uint8_t showGrid = 0;
  RGBColor gridColor{34952, 34952, 34952}; // the grid's lines over the graph
  uint8_t showToolbar = 1;
  uint8_t showRulers = 1;
  uint8_t showSidebar = 1;
  uint8_t showNotes = 1;
  uint8_t showAtoms = 1;
  uint16_t sidebarWidth = 240; // pixels
  float sidebarSplit = 0.5f;   // atoms pane height as a fraction of the content
  Str255 notesFontName = MakeStr255("Geneva");
  uint16_t notesFontSize = 12; // points
  uint8_t notesSpellCheck = 0; // spell checking as you type
  uint8_t showInfoTips = 1;

  // ---- Info and Overview windows ----
  uint8_t infoWindowVisible = 0;
  Rect infoWindowBounds;
  uint8_t infoGroupByElement = 1;
  uint8_t overviewVisible = 0;
  Rect overviewBounds;
  uint16_t overviewTabChoice = 2; // 1 Favourites, 2 Views, 3 History, 4 Recent, 5 Log
  uint16_t thumbnailHeight = 72;  // pixels; the width is height x 4 / 3
  uint8_t playLoop = 0;
  uint8_t playMode = 0;
  uint8_t playRotate = 0;
  uint8_t playFullScreen = 0;
  float playSeconds = 1.0f;
  Str255 logFontName = MakeStr255("Monaco");
  uint16_t logFontSize = 10;

  // ---- Tool windows ----
  Rect toolWindowBounds;
  float rotatorAngle = 90.0f; // degrees per rotation key
  Rect videoWindowBounds;
  Rect modelOptionsBounds;
  uint16_t modelOptionsTab = 0;
  uint8_t modelOptionsVisible = 0; // the inspector showed at the last quit
  Rect angleWindowBounds;
  Rect rangeWindowBounds;
  Rect spacegroupWindowBounds;
  uint8_t spacegroupInfoPanel = 0;
  Rect elementsWindowBounds;
  Rect atomPickerBounds;
  // The picker's buttons; the factory list holds the elements most
  // structures are built from, carbon chosen, so that the add-atom tool adds
  // an atom from the first click.
  uint16_t atomPickerCount = 10; // elements on the picker's buttons
  ElementCode atomPickerElements[10] = {TwoCharsToShort("C"),  TwoCharsToShort("H"),  TwoCharsToShort("O"),
                                        TwoCharsToShort("N"),  TwoCharsToShort("S"),  TwoCharsToShort("P"),
                                        TwoCharsToShort("Cl"), TwoCharsToShort("Si"), TwoCharsToShort("Na"),
                                        TwoCharsToShort("Fe")};
  ElementCode atomPickerChoice = TwoCharsToShort("C");
  Rect annotationWindowBounds;
  Rect distanceWindowBounds;
  float distanceMaximum = 3.0f; // Distance Explorer maximum distance (A); the distances report's search radius
  // The Distance Explorer's other settings: the defaults of a new search
  // record and the window state.
  uint8_t distanceGroupByElement = 1;
  uint8_t distanceGraphTab = 1;     // the graph tab was showing last
  float distanceMinimum = 0.0f;     // A
  float distanceBinWidth = 0.01f;   // A
  uint8_t distanceHistogramFlags[5] = {0, 0, 1, 1, 1}; // per unit volume, bar counts, element colours, shadow, grid
  uint8_t distanceWindowVisible = 0;

  // ---- Default display settings of new structures ----
  // The twins of the display fields of CrystalRec; ruler units and grid are
  // kept with the window settings above.
  uint8_t stereoOn = 0;
  int8_t stereoMode = 1;
  uint8_t fastRotation = 1; // draw in the fast mode while dragging
  // Reflectance per surface: atom, bond, polyhedron, cloud.
  float kA[4] = {0.25f, 0.5f, 0.5f, 0.5f};
  float kD[4] = {0.75f, 0.9f, 0.9f, 1.0f};
  float kS[4] = {1.0f, 1.0f, 0.0f, 0.0f};
  uint16_t phongN[4] = {30, 10, 1, 1};
  int8_t polyEdgeMode = 2;
  float ambientIntensity = 1.0f;
  float pointIntensity = 1.0f;
  float lightDirection[3] = {-0.5f, 0.5f, 0.7071f};
  float lowerMinOpacity = 0.0f;
  float lowerBaseZ = 0.0f;
  float lowerPlateauZ = 0.8f;
  float upperPlateauZ = 1.0f;
  float upperBaseZ = 1.0f;
  float upperMinOpacity = 1.0f;
  uint8_t depthFading = 0;
  float viewDistance = 50.0f;
  uint8_t perspective = 0;
  float stereoAngle = 4.0f;
  float stereoSeparation = 0.0f;
  uint8_t showUnitCell = 1;
  uint8_t showAxes = 1;
  uint32_t defaultAtomStyle = 14;
  float minBSSphereRadius = 0.2f;
  float bsSphereRadFrac = 0.4f;
  uint32_t defaultEllipsoidStyle = 13;
  float ellipsoidProbability = 0.5f;
  float ellipsoidSphereRadius = 0.2f;
  float defaultIsoValue = 0.1f; // U(iso) of new sites; not copied into structures
  uint32_t defaultPolyMode = 15;
  uint16_t defaultBondStyle = 1;
  RGBColor bondColor1{45000, 45000, 45000};
  RGBColor bondColor2{45000, 45000, 45000};
  float bondRadius = 0.25f;
  float stickRadius = 0.5f;
  float stickJointFactor = 1.1f;
  int8_t cloudSphereType = 2;
  float cloudSphereRadFrac = 1.0f;
  uint8_t cloudSameSphereColor = 1;
  RGBColor cloudSphereColor{65535, 65535, 0};
  float cloudSphereTransparency = 0.4f;
  uint8_t unitCellOptions[4] = {0, 0, 1, 1};
  uint16_t unitCellLineWidth = 1;
  RGBColor unitCellColor{0, 0, 65535};
  int8_t axesOption = 1;
  RGBColor axisColors[3] = {{65535, 0, 0}, {0, 34952, 0}, {8738, 8738, 65535}};
  uint8_t atomLabelType = 1;
  int8_t atomLabelPos = 4;
  uint8_t labelFlag = 1;
  uint8_t labelSizeFollowsScale = 1;
  Str255 labelFont = MakeStr255("Verdana");
  float labelSize = 10.0f;
  RGBColor backgroundColor = kRGBBlack;
  RGBColor gradientColors[2] = {kRGBWhite, kRGBBlack};
  uint32_t gradientStyle = 5;
  float gradientAngle = 0.0f;
  float gradientScale = 1.0f;
  uint8_t backgroundGradient = 0;
  uint16_t backgroundPictureMode = 1;
  RGBColor planeColor{65535, 52428, 0};
  float planeTransparency = 0.5f;
  uint8_t sendOrientationToLink = 1; // send every new orientation to the linked program

  // ---- Defaults of new annotation objects ----
  Str255 annotationFont = MakeStr255("Geneva");
  // White text on black: new objects show on the factory black background.
  RGBColor annotationColors[2] = {kRGBWhite, kRGBBlack}; // text, background
  uint16_t annotationSize = 12;
  uint16_t annotationStyle = 0; // 1 bold, 2 italic, 4 underline
  uint16_t annotationOptions[2] = {1, 1};
  uint8_t annotationFlags[4] = {0, 0, 0, 0};

  // ---- Defaults of new vectors ----
  RGBColor vectorColor{65535, 0, 0};
  uint8_t vectorStyle = 2;

  // ---- Remembered choices (1 = show the notice) ----
  uint8_t readerOption = 0; // a reader option switched from a menu
  uint8_t noticeAutoBonds = 1;
  uint8_t noticeDiscardSymmetry = 1;
  uint8_t noticeLink = 1;
  uint8_t noticeCrystalToMolecule = 1;
  uint8_t noticeGenerateSiteColors = 1;
  uint8_t noticeGenerateSiteLabels = 1;
  uint8_t noticeColourSites = 1;   // colour by coordination or element
  uint8_t noticeApplyDefaults = 1; // site-browser defaults
  uint8_t noticeHideOtherMolecules = 1;

  // ---- Element table ----
  char elementNotes[kElementNotesSize] = {}; // NUL-terminated
  std::array<ElementData, kMaxElementData> elementData{};

  // ---- List heads ----
  CachedFileRecord *recentFiles = nullptr;
  CachedFileRecord *favouriteFiles = nullptr;

  // ---- Update check ----
  uint8_t autoUpdateCheck = 1;
  uint32_t lastUpdateCheck = 0;    // seconds since 1970
  uint32_t lastCheckedVersion = 0; // VersCode

  // ---- Picture export ----
  uint16_t exportResolution = 144;                     // dots per inch of picture exports
  uint32_t exportFileType = FourCharsToLong("PNGf"); // the picture format last chosen

  // ---- Movie export ----
  uint32_t movieCompressor = 0; // four-character code; 0 the default
  float movieFrameRate = 15.0f;
  uint8_t movieLoop = 0;
  int32_t movieFrames = 36;  // frames of a rotation movie, 1..3600
  uint8_t moviePlayAll = 0;  // the player shows every frame
};

// The factory preferences, with the factory element table and its notes.
extern const PrefsRecord gFactoryPrefs;
// The program's preferences.
extern PrefsRecord gPrefs;

// The blank templates that new and cleared records copy.
extern AtomRecord gBlankAtom;
extern AsymmetricUnitRecord gBlankAU;
extern SphereRecord gBlankSphere;
extern VectorRecord gBlankVector;
extern TextBoxRecord gBlankTextBox;
extern CustomBondSpec gBlankCustomBondSpec;
extern CellPoint gBlankCellPoint;

// Fills the seven templates from gPrefs. Called
// once at start-up, after the preferences file was read.
void InitOVGlobals();

// One initialiser per record kind, writing the template's values (from
// gPrefs where the template takes them) into the given record.
void InitBlankAU(AsymmetricUnitRecord *site);
void InitBlankAtom(AtomRecord *atom);
void InitBlankSphere(SphereRecord *sphere);
void InitBlankVector(VectorRecord *vector);
void InitBlankTextBox(TextBoxRecord *box);
void InitBlankCellPoint(CellPoint *point);
void InitBlankCustomBondSpec(CustomBondSpec *spec);

// Copies every display setting of a preferences-layout record into the
// structure, then sets the model type to 1 and the surface overlay off,
// derives the ellipsoid critical value from the probability and the
// highlight colour from the background. Nothing when either is absent.
void CopyPrefsToCrystal(const PrefsRecord *prefs, CrystalRec *crystal);

// The reverse: the structure's display settings into a preferences-layout
// record, except the model type, surface overlay, highlight colour, critical
// value, stick joint factor and background picture mode; the unit-cell line
// width is stored truncated to an integer. Nothing when either is absent.
void CopyCrystalPrefs(const CrystalRec *crystal, PrefsRecord *prefs);
