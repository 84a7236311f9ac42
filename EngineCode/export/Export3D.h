// The 3-D model exports: binary STL and COLLADA.
//
// Both commands take the structure of a window (the front structure
// window), ask the host's save dialog for a file, write the model through
// the mesh generator (MeshExport.h) with progress in the status window, and
// close the file. A file that cannot be opened or written gives a stop
// alert; a cancelled dialog ends the command silently.
#pragma once

#include "HostServices.h"
#include "export/MeshExport.h"

#include <cstdint>
#include <ctime>
#include <string>

// ---- Commands ----------------------------------------------------------------------------

inline constexpr uint32_t kCmdExportSTL = FourCharsToLong("xSTL");
inline constexpr uint32_t kCmdExportCOLLADA = FourCharsToLong("xCOL");

// Runs a 3-D export command for the window: 0 for 'xSTL' and 'xCOL',
// -9874 (not handled) for every other command.
int32_t DoExport3DCommand(WindowRef window, uint32_t command);

// ---- Binary STL ------------------------------------------------------------------------------

// The 80-byte header starts with these characters; zero bytes fill the rest.
inline constexpr const char *kSTLHeaderText = "Orvalisphere STL file";
inline constexpr size_t kSTLHeaderSize = 80;
inline constexpr size_t kSTLRecordSize = 50;

// The command; false when nothing was written.
bool DoWriteSTLFile(WindowRef window);
// Writes the whole file for the context's structure to its stream; false
// (the file left empty) when the export lists cannot be made.
bool WriteSTLFile(Export3DContext &ctx);
// One 50-byte triangle record, counted.
void WriteSTLTriangle(Export3DContext &ctx, const Vertex &normal, const Vertex &v1, const Vertex &v2, const Vertex &v3);
// The bodies, in file order.
void WriteSTLAtoms(Export3DContext &ctx);
void WriteSTLBonds(Export3DContext &ctx);
void WriteSTLBondsCallback(Export3DContext &ctx, const BondRec &bond, uint32_t *counter);
void WriteSTLPolyhedra(Export3DContext &ctx);
void WriteSTLSurfaces(Export3DContext &ctx);
void WriteSTLUnitCell(Export3DContext &ctx);
void WriteSTLVectors(Export3DContext &ctx);

// ---- COLLADA -----------------------------------------------------------------------------------

// The command: 1 when the document was written, else 0. With own lighting
// the scene carries the program's two directional lights.
int DoWriteCOLLADAFile(WindowRef window, bool useOwnLighting);

// What the document writer needs besides the structure.
struct COLLADAOptions {
  bool useOVLighting = true; // place the two directional lights
  std::string version;       // the program's version
  std::time_t stamp = 0;     // created and modified (UTC)
};

// Writes the whole document for the context's structure to its stream: 1
// when written, 0 when the export was cancelled.
int WriteCrystalData(Export3DContext &ctx, const COLLADAOptions &options);
