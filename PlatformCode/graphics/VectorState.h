// The vector registers' state after the toolkit's painting code.
#pragma once

namespace ovgfx {

// The toolkit's painting (filling a text's outline or stroking it) uses the
// 256-bit vector registers and leaves their upper halves in use. Until
// something clears them, every 128-bit vector instruction of the plain code
// (ours is built for the base instruction set) and every call into the
// maths library pays for the mixed state: a fifth to a third of every later
// fast ellipsoid frame. This clears them; call it when such painting ends.
// No register holds anything live across the call.
void LeaveVectorStateClean();

} // namespace ovgfx
