#include "Commands.h"

#include "editing/EditCrystalSheet.h"
#include "export/Export3D.h"
#include "export/ExportFrame.h"
#include "export/PictureExport.h"
#include "export/MovieWindows.h"
#include "relax/RelaxThread.h"
#include "structurewindow/MainWindow.h"
#include "window/MainWindowData.h"

#include "DerivedLayers.h"
#include "LongCommand.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QWindow>

#include <map>
#include <memory>

namespace {

const std::vector<CommandInfo> kCommandTable = {
    // File
    {kCmdNewCrystal, "New Crystal", ""},
    {kCmdNewMolecule, "New Molecule", ""},
    {kCmdOpen, "Open…", "Ctrl+O"},
    {kCmdOpenRecent, "Open Recent", ""},
    {kCmdClearRecent, "Clear Menu", ""},
    {kCmdOpenExample, "Examples", ""},
    {kCmdClose, "Close", "Ctrl+W"},
    {kCmdSave, "Save", "Ctrl+S"},
    {kCmdSaveAs, "Save As…", "Ctrl+Shift+S"},
    {kCmdExportMenu, "Export", ""},
    {kCmdExportCoordinates, "Coordinates…", ""},
    {kCmdExportVisibleCoordination, "Coordination Groups…", ""},
    {kCmdExportCrystalCoordination, "Polyhedral Data…", ""},
    {kCmdExportBonds, "Distances & Angles…", ""},
    {kCmdExportCIF, "CIF…", ""},
    {kCmdExportPDB, "PDB…", ""},
    {kCmdExportMacMolecule, "MacMolecule…", ""},
    {kCmdExportChem3D, "Chem3D…", ""},
    {kCmdExportXYZ, "XYZ…", ""},
    {kCmdExportDMol, "DMol…", ""},
    {kCmdExportOwnText, "Orvalisphere Text File…", ""},
    {kCmdExportSTL, "STL 3-D Model…", ""},
    {kCmdExportCOLLADA, "COLLADA 3-D Model…", ""},
    {kCmdExportWebPage, "Web Page…", ""},
    {kCmdExportPixelGraphics, "Pixel Graphics…", ""},
    {kCmdExportVectorGraphics, "Vector Graphics (PICT)…", ""},
    {kCmdExportRotationMovie, "Rotation Movie…", ""},
    {kCmdExportQTVRMovie, "QuickTime VR Movie…", ""},
    {kCmdShowVideoRecorder, "Video Recorder", ""},
    {kCmdRevert, "Revert to Saved", ""},
    {kCmdPageSetup, "Page Setup…", ""},
    {kCmdPrint, "Print…", "Ctrl+P"},
    {kCmdQuit, "Quit", "Ctrl+Q"},
    // Edit
    {kCmdUndo, "Undo", "Ctrl+Z"},
    {kCmdRedo, "Redo", "Ctrl+Shift+Z"},
    {kCmdEditStructure, "Edit Crystal…", ""},
    {kCmdRelaxMolecule, "Relax Molecule", ""},
    {kCmdCancelRelaxMolecule, "Stop Relaxation", ""},
    {kCmdSaturateMolecule, "Saturate with Hydrogen", ""},
    {kCmdEditBonding, "Edit Bonding…", ""},
    {kCmdEditElements, "Edit Elements…", ""},
    {kCmdElementTablesMenu, "Element Tables", ""},
    {kCmdApplyPresetElementTable, "Apply Element Table", ""},
    // View
    {kCmdToggleRulers, "Show Rulers", ""},
    {kCmdToggleRulerUnits, "Ruler in Nanometres", ""},
    {kCmdToggleGrid, "Show Grid", ""},
    {kCmdToggleSidebar, "Show Sidebar", ""},
    {kCmdToggleNotes, "Show Notes", ""},
    {kCmdToggleAtoms, "Show Atoms", ""},
    {kCmdFillScreen, "Fill Screen", ""},
    {kCmdStandardSize, "Standard Size", ""},
    {kCmdZoomIn, "Zoom In", ""},
    {kCmdZoomOut, "Zoom Out", ""},
    {kCmdAutoCentre, "Auto Centre", ""},
    {kCmdAutoScaleView, "Auto Scale", ""},
    // Selection
    {FourCharsToLong("SlAl"), "Select All", ""},
    {FourCharsToLong("SlNo"), "Deselect All", ""},
    {FourCharsToLong("SlIv"), "Invert Selection", ""},
    {FourCharsToLong("SlNb"), "Select Neighbours", ""},
    {FourCharsToLong("SlMl"), "Select Entire Molecule", ""},
    {FourCharsToLong("SlSy"), "Select Symmetry-Related Sites", ""},
    {FourCharsToLong("CnSl"), "Centre on Selection", ""},
    {FourCharsToLong("LbSl"), "Label Selection", ""},
    {FourCharsToLong("HdSl"), "Hide Selected Atoms", ""},
    {FourCharsToLong("HdOt"), "Hide Other Atoms", ""},
    {FourCharsToLong("HdMl"), "Hide Other Molecules", ""},
    {FourCharsToLong("ShAl"), "Show All Atoms", ""},
    {FourCharsToLong("AtCl"), "Atom Colour…", ""},
    {FourCharsToLong("DtSl"), "Detach Selected Atoms", ""},
    {FourCharsToLong("VcDA"), "Delete All Vectors", ""},
    {FourCharsToLong("CBRs"), "Reset Custom Bonds", ""},
    {FourCharsToLong("CeSl"), "Show Centre of Selection", ""},
    {FourCharsToLong("VcAd"), "Add Vector…", ""},
    {FourCharsToLong("VcEd"), "Edit Vector…", ""},
    {FourCharsToLong("VcDS"), "Delete Selected Vectors", ""},
    {FourCharsToLong("DpSl"), "Duplicate Selected Atoms…", ""},
    {FourCharsToLong("EdXY"), "Edit Coordinates…", ""},
    {FourCharsToLong("EdSp"), "Edit Atoms…", ""},
    {FourCharsToLong("DlSl"), "Delete Selected Atoms", ""},
    {FourCharsToLong("CARs"), "Reset Custom Atoms", ""},
    {FourCharsToLong("CBSt"), "Custom Bond Style…", ""},
    {FourCharsToLong("AtSy"), "Atom Style…", ""},
    // Transform: whole-structure transformations and the lattice plane
    {FourCharsToLong("DsSy"), "Discard Symmetry", ""},
    {FourCharsToLong("MvOr"), "Move Origin…", ""},
    {FourCharsToLong("TrCl"), "Transform Cell…", ""},
    {FourCharsToLong("MtoC"), "Molecule to Crystal…", ""},
    {FourCharsToLong("CtoM"), "Crystal to Molecule", ""},
    {FourCharsToLong("AuBd"), "Automatic Bonds", ""},
    {FourCharsToLong("BndL"), "Bend Lattice…", ""},
    {FourCharsToLong("InSp"), "Insert Space at Plane…", ""},
    {FourCharsToLong("SlcM"), "Slice at Plane…", ""},
    {FourCharsToLong("DsPl"), "Distances from Plane", ""},
    {FourCharsToLong("LPln"), "Show Lattice Plane", ""},
    {FourCharsToLong("LPSh"), "Lattice Plane…", ""},
    {FourCharsToLong("VwDr"), "View Direction…", ""},
    // Window
    {kCmdShowLog, "Log", "Ctrl+L"},
    {kCmdLogTextStyle, "Log Text Style…", ""},
    // Help
    {kCmdHelp, "Orvalisphere Help", ""},
    {kCmdSelectWindow, "Window", ""},
    // Model: display toggles and the Model Options inspector
    {FourCharsToLong("Ball"), "Ball and Stick", ""},
    {FourCharsToLong("Spac"), "Space Filling", ""},
    {FourCharsToLong("Poly"), "Polyhedral", ""},
    {FourCharsToLong("Wire"), "Wire Frame", ""},
    {FourCharsToLong("Stik"), "Stick", ""},
    {FourCharsToLong("Elps"), "Thermal Ellipsoid", ""},
    {FourCharsToLong("*Axs"), "Show Axes", ""},
    {FourCharsToLong("*Cel"), "Show Unit Cell", ""},
    {FourCharsToLong("Prsp"), "Perspective", ""},
    {FourCharsToLong("Fade"), "Depth Fading", ""},
    {FourCharsToLong("Ster"), "Stereo", ""},
    {FourCharsToLong("RedB"), "Red/Blue Stereo", ""},
    {FourCharsToLong("Pair"), "Side-by-Side Stereo", ""},
    {FourCharsToLong("*Srf"), "Surface Overlay", ""},
    {kCmdShowAllLabels, "Show All Labels", ""},
    {FourCharsToLong("Fast"), "Fast Rotation", ""},
    {FourCharsToLong("Full"), "Full Rendering", ""},
    {FourCharsToLong("MOpt"), "Model Options", "Ctrl+M"},
    {FourCharsToLong("*MOK"), "Background…", ""},
    {FourCharsToLong("svMO"), "Save Model Options as Default", ""},
    {FourCharsToLong("MOHp"), "Model Options Help", ""},
    // The Distance Explorer and the space-group browser
    {FourCharsToLong("DsEx"), "Distance Explorer", ""},
    {FourCharsToLong("SgBr"), "Space Group Browser", ""},
    // Structure window input: tools, auto-rotation and the notes' Text menu
    {FourCharsToLong("MinW"), "Minimize", ""},
    {FourCharsToLong("ZooW"), "Zoom", ""},
    {FourCharsToLong("tbtg"), "Show Toolbar", ""},
    {FourCharsToLong("*Tls"), "Tool Window", ""},
    {FourCharsToLong("ArwT"), "Arrow Tool", ""},
    {FourCharsToLong("RotT"), "Rotate Tool", ""},
    {FourCharsToLong("MovT"), "Move Tool", ""},
    {FourCharsToLong("MagT"), "Magnify Tool", ""},
    {FourCharsToLong("ZapT"), "Zapper Tool", ""},
    {FourCharsToLong("PolT"), "Polygon Tool", ""},
    {FourCharsToLong("LasT"), "Lasso Tool", ""},
    {FourCharsToLong("BnDT"), "Bond Distance Tool", ""},
    {FourCharsToLong("DstT"), "Distance Tool", ""},
    {FourCharsToLong("BAnT"), "Bond Angle Tool", ""},
    {FourCharsToLong("AngT"), "Angle Tool", ""},
    {FourCharsToLong("PlnT"), "Plane Tool", ""},
    {FourCharsToLong("B+-T"), "Add/Delete Bond Tool", ""},
    {FourCharsToLong("At+T"), "Add Atom Tool", ""},
    {kCmdAutoRotate, "Auto Rotate", ""},
    {kCmdAutoRotateAll, "Auto Rotate All Windows", ""},
    {kCmdAutoRotateSheet, "Auto Rotate Options…", ""},
    {FourCharsToLong("TStP"), "Plain Text", ""},
    {FourCharsToLong("TStB"), "Bold", ""},
    {FourCharsToLong("TStI"), "Italic", ""},
    {FourCharsToLong("TStU"), "Underline", ""},
    {FourCharsToLong("TStO"), "Outline", ""},
    {FourCharsToLong("TStS"), "Shadow", ""},
    {FourCharsToLong("TStC"), "Condense", ""},
    {FourCharsToLong("TStE"), "Extend", ""},
    {FourCharsToLong("TS06"), "6 Point", ""},
    {FourCharsToLong("TS09"), "9 Point", ""},
    {FourCharsToLong("TS10"), "10 Point", ""},
    {FourCharsToLong("TS12"), "12 Point", ""},
    {FourCharsToLong("TS14"), "14 Point", ""},
    {FourCharsToLong("TS18"), "18 Point", ""},
    {FourCharsToLong("TS24"), "24 Point", ""},
    {FourCharsToLong("TS36"), "36 Point", ""},
    {FourCharsToLong("TS48"), "48 Point", ""},
    {FourCharsToLong("TS72"), "72 Point", ""},
    {FourCharsToLong("TCo1"), "Black", ""},
    {FourCharsToLong("TCo2"), "Grey", ""},
    {FourCharsToLong("TCo3"), "Red", ""},
    {FourCharsToLong("TCo4"), "Orange", ""},
    {FourCharsToLong("TCo5"), "Yellow", ""},
    {FourCharsToLong("TCo6"), "Green", ""},
    {FourCharsToLong("TCo7"), "Cyan", ""},
    {FourCharsToLong("TCo8"), "Blue", ""},
    {FourCharsToLong("TCo9"), "Magenta", ""},
    {FourCharsToLong("TCoC"), "Other Colour…", ""},
    {FourCharsToLong("TJfD"), "Default Alignment", ""},
    {FourCharsToLong("TJfL"), "Align Left", ""},
    {FourCharsToLong("TJfC"), "Centre", ""},
    {FourCharsToLong("TJfR"), "Align Right", ""},
    {FourCharsToLong("TJfF"), "Justify", ""},
    {FourCharsToLong("TSt+"), "Superscript", ""},
    {FourCharsToLong("TSt-"), "Subscript", ""},
    {FourCharsToLong("TBsp"), "Backspace Kern", ""},
    {FourCharsToLong("TOvb"), "Overbar", ""},
    {FourCharsToLong("TDfS"), "Default Text Style…", ""},
    // Building tools' palette, view directions and the Copy Graphics sheet
    {FourCharsToLong("*AtP"), "Element Picker", ""},
    {FourCharsToLong("MOrg"), "Organic", ""},
    {FourCharsToLong("MSil"), "Silicates", ""},
    {FourCharsToLong("MCar"), "Carbonates", ""},
    {FourCharsToLong("MHal"), "Halides", ""},
    {FourCharsToLong("MDef"), "Saved Elements", ""},
    {FourCharsToLong("Use1"), "Use Element 1", ""},
    {FourCharsToLong("Use2"), "Use Element 2", ""},
    {FourCharsToLong("Use3"), "Use Element 3", ""},
    {FourCharsToLong("Use4"), "Use Element 4", ""},
    {FourCharsToLong("Use5"), "Use Element 5", ""},
    {FourCharsToLong("Use6"), "Use Element 6", ""},
    {FourCharsToLong("Use7"), "Use Element 7", ""},
    {FourCharsToLong("Use8"), "Use Element 8", ""},
    {FourCharsToLong("Use9"), "Use Element 9", ""},
    {FourCharsToLong("UseA"), "Use Element 10", ""},
    {FourCharsToLong("VwPr"), "Look Along", ""},
    {FourCharsToLong("V100"), "[100]", ""},
    {FourCharsToLong("V010"), "[010]", ""},
    {FourCharsToLong("V001"), "[001]", ""},
    {FourCharsToLong("V011"), "[011]", ""},
    {FourCharsToLong("V101"), "[101]", ""},
    {FourCharsToLong("V110"), "[110]", ""},
    {FourCharsToLong("V111"), "[111]", ""},
    {FourCharsToLong("P100"), "(100) Normal", ""},
    {FourCharsToLong("P010"), "(010) Normal", ""},
    {FourCharsToLong("P001"), "(001) Normal", ""},
    {FourCharsToLong("VASl"), "View Along Selection", ""},
    {FourCharsToLong("CpGr"), "Copy Graphics…", ""},
    {FourCharsToLong("cksp"), "Check Spelling", ""},
    {FourCharsToLong("aspc"), "Check Spelling as You Type", ""},
    // Plot range, plot size and scale, angles
    {kCmdPlotRange, "Plot Range…", ""},
    {kCmdCalculateAngle, "Calculate Angle…", ""},
    {kCmdPlotSize, "Plot Size…", ""},
    {kCmdPlotScale, "Plot Scale…", ""},
    // Bonding repair, fragments, asymmetric unit, clusters, automatic scale
    {FourCharsToLong("RpMF"), "Complete Molecular Fragments", ""},
    {FourCharsToLong("RpMS"), "Complete Molecule at Selection", ""},
    {FourCharsToLong("RpBS"), "Complete Bonding at Selection", ""},
    {FourCharsToLong("MolC"), "Molecular Unit Cell", ""},
    {FourCharsToLong("HdFr"), "Hide Molecular Fragments", ""},
    {FourCharsToLong("HdSt"), "Hide Stranded Atoms", ""},
    {FourCharsToLong("ShAU"), "Show Asymmetric Unit", ""},
    {FourCharsToLong("DfCl"), "Define Cluster…", ""},
    {FourCharsToLong("AScl"), "Auto Scale", ""},
    {FourCharsToLong("PlyS"), "Polyhedron from Selection…", ""},
    {FourCharsToLong("PlcM"), "Place Molecule…", ""},
    {kCmdRotationAngleMenu, "Rotation Angle", ""},
    {kCmdRotationAngle1, "1°", ""},
    {kCmdRotationAngle2, "2°", ""},
    {kCmdRotationAngle5, "5°", ""},
    {kCmdRotationAngle10, "10°", ""},
    {kCmdRotationAngle15, "15°", ""},
    {kCmdRotationAngle30, "30°", ""},
    {kCmdRotationAngle45, "45°", ""},
    {kCmdRotationAngle90, "90°", ""},
    {kCmdRotationAngleOther, "Other…", ""},
    // Overview window: its tabs, thumbnail lists, playback and batches; Preferences
    {FourCharsToLong("OvTg"), "Overview", "Ctrl+Shift+O"},
    {FourCharsToLong("*Fav"), "Favourites", ""},
    {FourCharsToLong("*Vuw"), "Views", ""},
    {FourCharsToLong("*Hst"), "History", ""},
    {FourCharsToLong("*Rec"), "Recent", ""},
    {FourCharsToLong("Same"), "Open in Front Window", ""},
    {FourCharsToLong("+Win"), "Open in New Window", ""},
    {FourCharsToLong("+WVu"), "Duplicate in New Window", ""},
    {FourCharsToLong("Rmve"), "Remove Thumbnail", ""},
    {FourCharsToLong("Rplc"), "Replace with Current Structure", ""},
    {FourCharsToLong("-Cch"), "Clear", ""},
    {FourCharsToLong("CcRn"), "Rename Views Numerically…", ""},
    {FourCharsToLong("CcS+"), "Sort Ascending", ""},
    {FourCharsToLong("CcS-"), "Sort Descending", ""},
    {FourCharsToLong("LExs"), "Add Sample Files to Favourites", ""},
    {FourCharsToLong("*Fnd"), "Show in File Manager", ""},
    {FourCharsToLong("Path"), "Path", ""},
    {FourCharsToLong("Play"), "Play…", ""},
    {FourCharsToLong("PlCc"), "Play Thumbnails…", ""},
    {FourCharsToLong("PlyA"), "Play Again", ""},
    {FourCharsToLong("CcMM"), "Make Movie from Views…", ""},
    {FourCharsToLong("CcMO"), "Movie Options…", ""},
    {FourCharsToLong("CcEx"), "Export Thumbnails as Pictures…", ""},
    {FourCharsToLong("+Cch"), "Save Thumbnails as Documents…", ""},
    {FourCharsToLong("Pref"), "Preferences…", ""},
    // Annotation objects on the graph and the Edit Annotation window
    {FourCharsToLong("+AnT"), "Add Text Box", ""},
    {FourCharsToLong("+AnL"), "Add Line", ""},
    {FourCharsToLong("+AnS"), "Add Scale Bar", ""},
    {FourCharsToLong("LTxB"), "Convert Labels to Text Boxes", ""},
    {FourCharsToLong("*EdA"), "Edit Annotation…", ""},
    // Sites: the info window, the site browser's commands and the structure reports
    {FourCharsToLong("*Inf"), "Sites Window", ""},
    {FourCharsToLong("*tAI"), "Show or Hide Sites Window", ""},
    {FourCharsToLong("IW#L"), "Generate Site Labels", ""},
    {FourCharsToLong("IW#C"), "Generate Site Colours", ""},
    {FourCharsToLong("IWcC"), "Colour by Coordination", ""},
    {FourCharsToLong("IWcE"), "Colour by Element", ""},
    {FourCharsToLong("IWDf"), "Apply Element Defaults", ""},
    {FourCharsToLong("IWGs"), "Convert Colours to Grey", ""},
    {FourCharsToLong("IW+L"), "Expand All", ""},
    {FourCharsToLong("IW-L"), "Collapse All", ""},
    {FourCharsToLong("IW*E"), "Group by Element", ""},
    {FourCharsToLong("IW%E"), "Flat List", ""},
    {FourCharsToLong("IW*L"), "Show All Labels", ""},
    {FourCharsToLong("IW%L"), "Hide All Labels", ""},
    {FourCharsToLong("IWHp"), "Site List Help", ""},
    {FourCharsToLong("Form"), "Chemical Formula", ""},
    {FourCharsToLong("LstX"), "List Coordinates", ""},
    {FourCharsToLong("LstB"), "List Bonds", ""},
    {FourCharsToLong("Por%"), "Porosity", ""},
    {FourCharsToLong("Dens"), "Density", ""},
};

const std::vector<MenuInfo> kMenuTable = {
    {"File",
     {kCmdNewCrystal, kCmdNewMolecule, kCmdOpen, kCmdOpenRecent, kCmdOpenExample, 0, kCmdClose, kCmdSave, kCmdSaveAs,
      kCmdRevert, 0, kCmdExportMenu, 0, kCmdPageSetup, kCmdPrint, 0, kCmdQuit},
     0,
     'F'},
    {"Export",
     {kCmdExportCoordinates, kCmdExportVisibleCoordination, kCmdExportCrystalCoordination, kCmdExportBonds, 0,
      kCmdExportCIF, kCmdExportPDB, kCmdExportMacMolecule, kCmdExportChem3D, kCmdExportXYZ, kCmdExportDMol, kCmdExportOwnText, kCmdExportWebPage, 0,
      kCmdExportPixelGraphics, kCmdExportVectorGraphics, 0, kCmdExportSTL, kCmdExportCOLLADA, 0,
      kCmdExportRotationMovie, kCmdExportQTVRMovie, kCmdShowVideoRecorder},
     kCmdExportMenu},
    {"Edit",
     {kCmdUndo, kCmdRedo, 0, kCmdEditStructure, 0, kCmdRelaxMolecule, kCmdCancelRelaxMolecule, kCmdSaturateMolecule, 0,
      kCmdEditBonding, kCmdEditElements, kCmdElementTablesMenu, 0, FourCharsToLong("CpGr"), 0,
      FourCharsToLong("cksp"), FourCharsToLong("aspc")},
     0,
     'E'},
    {"Select",
     {FourCharsToLong("SlAl"), FourCharsToLong("SlNo"), FourCharsToLong("SlIv"), 0, FourCharsToLong("SlNb"),
      FourCharsToLong("SlMl"), FourCharsToLong("SlSy"), 0, FourCharsToLong("CnSl"), FourCharsToLong("LbSl"), 0,
      FourCharsToLong("HdSl"), FourCharsToLong("HdOt"), FourCharsToLong("HdMl"), FourCharsToLong("ShAl"), 0, FourCharsToLong("AtSy"), FourCharsToLong("AtCl"), FourCharsToLong("CARs"), FourCharsToLong("CBSt"), FourCharsToLong("CBRs"), 0,
      FourCharsToLong("CeSl"), FourCharsToLong("EdXY"), FourCharsToLong("EdSp"), FourCharsToLong("DpSl"),
      FourCharsToLong("DlSl"), FourCharsToLong("DtSl"), 0, FourCharsToLong("VcAd"), FourCharsToLong("VcEd"),
      FourCharsToLong("VcDS"), FourCharsToLong("VcDA"), 0, FourCharsToLong("PlyS"),
      FourCharsToLong("PlcM")},
     0,
     'S'},
    {"Transform",
     {FourCharsToLong("DsSy"), FourCharsToLong("MvOr"), FourCharsToLong("TrCl"), 0, FourCharsToLong("MtoC"),
      FourCharsToLong("CtoM"), FourCharsToLong("AuBd"), 0, FourCharsToLong("BndL"), 0, FourCharsToLong("LPln"),
      FourCharsToLong("LPSh"), FourCharsToLong("InSp"), FourCharsToLong("SlcM"), FourCharsToLong("DsPl"), 0,
      FourCharsToLong("VwDr")},
     0,
     'T'},
    {"View",
     {kCmdToggleRulers, kCmdToggleRulerUnits, kCmdToggleGrid, 0, kCmdToggleSidebar, kCmdToggleAtoms, kCmdToggleNotes, 0,
      kCmdFillScreen, 0, kCmdZoomIn, kCmdZoomOut, kCmdAutoCentre, 0, FourCharsToLong("VwPr"), FourCharsToLong("VASl")},
     0,
     'V'},
    {"Model",
     {FourCharsToLong("Ball"), FourCharsToLong("Spac"), FourCharsToLong("Poly"), FourCharsToLong("Wire"),
      FourCharsToLong("Stik"), FourCharsToLong("Elps"), 0, FourCharsToLong("*Axs"), FourCharsToLong("*Cel"),
      FourCharsToLong("*Srf"), kCmdShowAllLabels, 0, FourCharsToLong("Prsp"), FourCharsToLong("Fade"), FourCharsToLong("Ster"),
      FourCharsToLong("RedB"), FourCharsToLong("Pair"), 0, FourCharsToLong("Fast"), FourCharsToLong("Full"), 0,
      FourCharsToLong("MOpt"), FourCharsToLong("*MOK"), FourCharsToLong("svMO"), FourCharsToLong("MOHp"), 0,
      FourCharsToLong("DsEx"), FourCharsToLong("SgBr")},
     0,
     'M'},
    {"Window", {kCmdShowLog, kCmdLogTextStyle, 0, FourCharsToLong("MinW"), FourCharsToLong("ZooW"), FourCharsToLong("tbtg"), FourCharsToLong("*Tls"), 0, FourCharsToLong("*AtP")},
     0,
     'W'},
    {"Text",
     {FourCharsToLong("TStP"), FourCharsToLong("TStB"), FourCharsToLong("TStI"), FourCharsToLong("TStU"),
      FourCharsToLong("TStO"), FourCharsToLong("TStS"), FourCharsToLong("TStC"), FourCharsToLong("TStE"), 0,
      FourCharsToLong("TS06"), FourCharsToLong("TS09"), FourCharsToLong("TS10"), FourCharsToLong("TS12"),
      FourCharsToLong("TS14"), FourCharsToLong("TS18"), FourCharsToLong("TS24"), FourCharsToLong("TS36"),
      FourCharsToLong("TS48"), FourCharsToLong("TS72"), 0, FourCharsToLong("TCo1"), FourCharsToLong("TCo2"),
      FourCharsToLong("TCo3"), FourCharsToLong("TCo4"), FourCharsToLong("TCo5"), FourCharsToLong("TCo6"),
      FourCharsToLong("TCo7"), FourCharsToLong("TCo8"), FourCharsToLong("TCo9"), FourCharsToLong("TCoC"), 0,
      FourCharsToLong("TJfD"), FourCharsToLong("TJfL"), FourCharsToLong("TJfC"), FourCharsToLong("TJfR"),
      FourCharsToLong("TJfF"), 0, FourCharsToLong("TSt+"), FourCharsToLong("TSt-"), FourCharsToLong("TBsp"),
      FourCharsToLong("TOvb"), 0, FourCharsToLong("TDfS")},
     0,
     'x'},
    {"Rotation", {kCmdAutoRotate, kCmdAutoRotateAll, kCmdAutoRotateSheet, 0, kCmdRotationAngleMenu}, 0, 'R'},
    {"Rotation Angle",
     {kCmdRotationAngle1, kCmdRotationAngle2, kCmdRotationAngle5, kCmdRotationAngle10, kCmdRotationAngle15,
      kCmdRotationAngle30, kCmdRotationAngle45, kCmdRotationAngle90, 0, kCmdRotationAngleOther},
     kCmdRotationAngleMenu},
    {"Plot",
     {kCmdPlotRange, kCmdPlotScale, kCmdPlotSize, FourCharsToLong("AScl"), 0, FourCharsToLong("RpMF"),
      FourCharsToLong("RpMS"), FourCharsToLong("RpBS"), FourCharsToLong("MolC"), FourCharsToLong("HdFr"),
      FourCharsToLong("HdSt"), FourCharsToLong("ShAU"), FourCharsToLong("DfCl"), 0, kCmdCalculateAngle},
     0,
     'P'},
    {"Overview",
     {FourCharsToLong("OvTg"), FourCharsToLong("*Fav"), FourCharsToLong("*Vuw"), FourCharsToLong("*Hst"),
      FourCharsToLong("*Rec"), kCmdShowLog, 0, FourCharsToLong("Same"), FourCharsToLong("+Win"),
      FourCharsToLong("+WVu"), FourCharsToLong("Rplc"), FourCharsToLong("Rmve"), FourCharsToLong("-Cch"), 0,
      FourCharsToLong("CcS+"), FourCharsToLong("CcS-"), FourCharsToLong("CcRn"), FourCharsToLong("LExs"),
      FourCharsToLong("*Fnd"), 0, FourCharsToLong("PlCc"), FourCharsToLong("PlyA"), 0, FourCharsToLong("CcEx"),
      FourCharsToLong("+Cch"), FourCharsToLong("CcMM"), FourCharsToLong("CcMO"), 0, FourCharsToLong("Pref")},
     0,
     'O'},
    // The View menu's view-direction presets
    {"Look Along",
     {FourCharsToLong("V100"), FourCharsToLong("V010"), FourCharsToLong("V001"), FourCharsToLong("V011"),
      FourCharsToLong("V101"), FourCharsToLong("V110"), FourCharsToLong("V111"), 0, FourCharsToLong("P100"),
      FourCharsToLong("P010"), FourCharsToLong("P001")},
     FourCharsToLong("VwPr")},
    {"Annotation",
     {FourCharsToLong("+AnT"), FourCharsToLong("+AnL"), FourCharsToLong("+AnS"), 0, FourCharsToLong("LTxB"), 0,
      FourCharsToLong("*EdA")},
     0,
     'A'},
    {"Sites",
     {FourCharsToLong("*Inf"), 0, FourCharsToLong("IW#L"), FourCharsToLong("IW#C"), FourCharsToLong("IWcC"),
      FourCharsToLong("IWcE"), FourCharsToLong("IWDf"), FourCharsToLong("IWGs"), 0, FourCharsToLong("IW+L"),
      FourCharsToLong("IW-L"), FourCharsToLong("IW*E"), FourCharsToLong("IW%E"), 0, FourCharsToLong("IW*L"),
      FourCharsToLong("IW%L"), 0, FourCharsToLong("Form"), FourCharsToLong("LstX"), FourCharsToLong("LstB"),
      FourCharsToLong("Por%"), FourCharsToLong("Dens"), 0, FourCharsToLong("IWHp")},
     0,
     'i'},
    {"Help", {kCmdHelp}, 0, 'H'},
};

struct Registry {
  QObject owner; // parent of the program-wide actions
  std::map<uint32_t, QAction *> actions;
  struct Entry {
    int id;
    CommandHandler handler;
    MenuStatusHandler status;
  };
  std::vector<Entry> handlers; // newest first
  int nextId = 1;
  std::function<OSStatus(WindowRef, uint32_t, const QVariant &)> windowHandler;
  std::function<OSStatus(WindowRef, uint32_t, QAction *)> windowStatus;
  bool updatePending = false; // a `RequestCommandStatusUpdate` waits to run
};

Registry &GetRegistry() {
  static Registry *registry = new Registry; // lives as long as the program
  return *registry;
}

void Trigger(QAction *action) { ProcessCommand(GetActionCommand(action), action->property("argument")); }

// Qt sends a key press to the focus widget as a shortcut override first,
// then offers it to its shortcut map, which takes only enabled actions. The
// commands the key is a shortcut of get their status here, in between, so
// that a key answers whenever its menu item would (an edit made from the
// keyboard changes no menu until one opens). A modal window (a sheet, a
// question) keeps the program's keys: nothing behind it acts while it waits
// for its answer, so the key goes to it as a plain key press.
class ShortcutStatus : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject *receiver, QEvent *event) override {
    if (event->type() != QEvent::ShortcutOverride)
      return false;
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    const int key = keyEvent->key();
    const QKeyCombination pressed(keyEvent->modifiers() & ~Qt::KeypadModifier, Qt::Key(key));
    // The window the key was pressed in.
    bool modal = false;
    if (auto *widget = qobject_cast<QWidget *>(receiver))
      modal = widget->window()->windowModality() != Qt::NonModal;
    else if (auto *window = qobject_cast<QWindow *>(receiver))
      modal = window->modality() != Qt::NonModal;
    for (auto &[code, action] : GetRegistry().actions)
      for (const QKeySequence &shortcut : action->shortcuts())
        if (shortcut.count() > 0 && shortcut[0].key() == key) {
          if (modal && shortcut[0] == pressed) {
            keyEvent->accept();
            return true;
          }
          UpdateActionStatus(action);
          break;
        }
    return false;
  }
};

void WatchShortcutKeys() {
  static bool watching = false;
  if (watching || !QCoreApplication::instance())
    return;
  watching = true;
  QCoreApplication::instance()->installEventFilter(new ShortcutStatus(QCoreApplication::instance()));
}

} // namespace

const std::vector<CommandInfo> &CommandTable() { return kCommandTable; }
const std::vector<MenuInfo> &MenuTable() { return kMenuTable; }

QString MenuBarTitle(const MenuInfo &menu) {
  QString title = QString::fromUtf8(menu.title);
  if (menu.opener || !menu.mnemonic)
    return title;
  const qsizetype at = title.indexOf(QChar(menu.mnemonic));
  if (at >= 0)
    title.insert(at, u'&');
  return title;
}

void SetMenuBarMnemonics(QMenuBar *bar) {
  if (!bar)
    return;
  for (QAction *action : bar->actions())
    for (const MenuInfo &menu : kMenuTable)
      if (!menu.opener && action->text() == QString::fromUtf8(menu.title)) {
        action->setText(MenuBarTitle(menu));
        break;
      }
}

const CommandInfo *FindCommandInfo(uint32_t code) {
  for (const CommandInfo &info : kCommandTable)
    if (info.code == code)
      return &info;
  return nullptr;
}

QAction *GetCommandAction(uint32_t code) {
  Registry &r = GetRegistry();
  auto it = r.actions.find(code);
  if (it != r.actions.end())
    return it->second;
  const CommandInfo *info = FindCommandInfo(code);
  if (!info)
    return nullptr;
  auto *action = new QAction(MenuItemTitle(QString::fromUtf8(info->title)), &r.owner);
  action->setData(QVariant::fromValue(code));
  if (*info->shortcut) {
    // Only structure windows carry the menus, yet every window of the
    // program answers their keys: one application-wide shortcut per
    // command. A text field still edits with its own keys (Ctrl+Z, Ctrl+A),
    // as it claims them in the shortcut override.
    action->setShortcut(QKeySequence(QString::fromUtf8(info->shortcut)));
    action->setShortcutContext(Qt::ApplicationShortcut);
    WatchShortcutKeys();
  }
  QObject::connect(action, &QAction::triggered, action, [action] { Trigger(action); });
  r.actions[code] = action;
  return action;
}

uint32_t GetActionCommand(const QAction *action) {
  if (!action)
    return 0;
  bool ok = false;
  uint32_t code = action->data().toUInt(&ok);
  return ok ? code : 0;
}

QString MenuItemTitle(const QString &title) {
  QString shown = title;
  return shown.replace(u'&', QStringLiteral("&&"));
}

QAction *MakeCommandItem(uint32_t code, const QString &title, const QVariant &argument, QObject *parent) {
  auto *action = new QAction(MenuItemTitle(title), parent);
  action->setData(QVariant::fromValue(code));
  action->setProperty("argument", argument);
  QObject::connect(action, &QAction::triggered, action, [action] { Trigger(action); });
  return action;
}

int AddCommandHandler(CommandHandler handler, MenuStatusHandler status) {
  Registry &r = GetRegistry();
  int id = r.nextId++;
  r.handlers.insert(r.handlers.begin(), Registry::Entry{id, std::move(handler), std::move(status)});
  return id;
}

void RemoveCommandHandler(int id) {
  auto &handlers = GetRegistry().handlers;
  std::erase_if(handlers, [id](const Registry::Entry &e) { return e.id == id; });
}

void SetWindowCommandHandler(std::function<OSStatus(WindowRef, uint32_t, const QVariant &)> handler,
                             std::function<OSStatus(WindowRef, uint32_t, QAction *)> status) {
  GetRegistry().windowHandler = std::move(handler);
  GetRegistry().windowStatus = std::move(status);
}

void CheckStructuresTold() {
  if (!DerivedLayers::ChecksInputs())
    return;
  for (MainWindow *w : AllGraphWindows())
    if (const CrystalRec *c = GetWindowCrystal(w->Ref()))
      c->derived.CheckTold(*c);
}

OSStatus ProcessCommand(uint32_t command, const QVariant &argument) {
  // What changed between commands is checked before this one.
  CheckStructuresTold();
  const LongCommand longCommand;
  const CommandRun running(CommandName(command));
  Registry &r = GetRegistry();
  OSStatus result = kEventNotHandledErr;
  // A copy: a handler may install or remove handlers.
  std::vector<Registry::Entry> chain = r.handlers;
  for (const Registry::Entry &e : chain)
    if (e.handler && (result = e.handler(command, argument)) != kEventNotHandledErr)
      break;
  if (result == kEventNotHandledErr && r.windowHandler)
    if (WindowRef front = FrontGraphWindow())
      result = r.windowHandler(front, command, argument);
  if (result == kEventNotHandledErr)
    result = MyDoMenuCommand(command, argument);
  if (QCoreApplication::instance() && !gQuittingTime)
    UpdateAllCommandStatus();
  return result;
}

void UpdateActionStatus(QAction *action) {
  const uint32_t command = GetActionCommand(action);
  if (!action || !command)
    return;
  Registry &r = GetRegistry();
  for (const Registry::Entry &e : r.handlers)
    if (e.status && e.status(command, action) != kEventNotHandledErr)
      return;
  if (r.windowStatus)
    if (WindowRef front = FrontGraphWindow(); front && r.windowStatus(front, command, action) != kEventNotHandledErr)
      return;
  MyUpdateMenuStatus(command, action);
}

void UpdateMenuStatus(QMenu *menu) {
  if (!menu)
    return;
  for (QAction *action : menu->actions())
    UpdateActionStatus(action);
}

void UpdateAllCommandStatus() {
  for (auto &[code, action] : GetRegistry().actions)
    UpdateActionStatus(action);
}

void RequestCommandStatusUpdate() {
  Registry &r = GetRegistry();
  if (r.updatePending || !QCoreApplication::instance())
    return;
  r.updatePending = true;
  QTimer::singleShot(0, &r.owner, [] {
    GetRegistry().updatePending = false;
    if (!gQuittingTime)
      UpdateAllCommandStatus();
  });
}

std::string CommandName(uint32_t code) {
  char text[5] = {};
  LongToFourChars(code, text);
  return std::string(1, '\'') + std::string(text, 4) + "'";
}
