#include "ElementWeights.h"

// The rows in their historical order; lookups rely on it.
const ElementWeight gElementWeightData[kNumElementWeights] = {
    {0x484F, 18.016f}, // HO (water)
    {0x4F48, 17.008f}, // OH (hydroxyl)
    {0x4820, 1.0078f}, // H
    {0x4420, 2.0141f}, // D
    {0x4865, 4.003f},  // He
    {0x4C69, 6.941f},  // Li
    {0x4265, 9.012f},  // Be
    {0x4220, 10.81f},  // B
    {0x4320, 12.01f},  // C
    {0x4E20, 14.01f},  // N
    {0x4F20, 16.0f},   // O
    {0x4620, 19.0f},   // F
    {0x4E65, 20.18f},  // Ne
    {0x4E61, 22.99f},  // Na
    {0x4D67, 24.31f},  // Mg
    {0x416C, 26.98f},  // Al
    {0x5369, 28.09f},  // Si
    {0x5020, 30.97f},  // P
    {0x5320, 32.06f},  // S
    {0x436C, 35.45f},  // Cl
    {0x4172, 39.95f},  // Ar
    {0x4B20, 39.1f},   // K
    {0x4361, 40.08f},  // Ca
    {0x5363, 44.96f},  // Sc
    {0x5469, 47.9f},   // Ti
    {0x5620, 50.94f},  // V
    {0x4372, 52.0f},   // Cr
    {0x4D6E, 54.94f},  // Mn
    {0x4665, 55.85f},  // Fe
    {0x436F, 58.93f},  // Co
    {0x4E69, 58.71f},  // Ni
    {0x4375, 63.55f},  // Cu
    {0x5A6E, 65.37f},  // Zn
    {0x4761, 69.72f},  // Ga
    {0x4765, 72.6f},   // Ge
    {0x4173, 74.92f},  // As
    {0x5365, 78.96f},  // Se
    {0x4272, 79.9f},   // Br
    {0x4B72, 83.8f},   // Kr
    {0x5262, 85.47f},  // Rb
    {0x5372, 87.62f},  // Sr
    {0x5920, 88.91f},  // Y
    {0x5A72, 91.22f},  // Zr
    {0x4E62, 92.91f},  // Nb
    {0x4D6F, 95.94f},  // Mo
    {0x5463, 99.0f},   // Tc
    {0x5275, 101.1f},  // Ru
    {0x5268, 102.9f},  // Rh
    {0x5064, 106.4f},  // Pd
    {0x4167, 107.9f},  // Ag
    {0x4364, 112.4f},  // Cd
    {0x496E, 114.8f},  // In
    {0x536E, 118.7f},  // Sn
    {0x5362, 121.8f},  // Sb
    {0x5465, 127.6f},  // Te
    {0x4920, 126.9f},  // I
    {0x5865, 131.3f},  // Xe
    {0x4373, 132.9f},  // Cs
    {0x4261, 137.3f},  // Ba
    {0x4C61, 138.9f},  // La
    {0x4866, 178.5f},  // Hf
    {0x5461, 180.9f},  // Ta
    {0x5720, 183.9f},  // W
    {0x5265, 186.2f},  // Re
    {0x4F73, 190.2f},  // Os
    {0x4972, 192.2f},  // Ir
    {0x5074, 195.1f},  // Pt
    {0x4175, 197.0f},  // Au
    {0x4867, 200.6f},  // Hg
    {0x546C, 204.4f},  // Tl
    {0x5062, 207.2f},  // Pb
    {0x4269, 209.0f},  // Bi
    {0x506F, 210.0f},  // Po
    {0x4174, 210.0f},  // At
    {0x526E, 222.0f},  // Rn
    {0x4672, 223.0f},  // Fr
    {0x5261, 226.0f},  // Ra
    {0x4163, 227.0f},  // Ac
    {0x4365, 140.1f},  // Ce
    {0x5072, 140.9f},  // Pr
    {0x4E64, 144.2f},  // Nd
    {0x506D, 147.0f},  // Pm
    {0x536D, 150.4f},  // Sm
    {0x4575, 152.0f},  // Eu
    {0x4764, 157.3f},  // Gd
    {0x5462, 158.9f},  // Tb
    {0x4479, 162.5f},  // Dy
    {0x486F, 164.9f},  // Ho
    {0x4572, 167.3f},  // Er
    {0x546D, 168.9f},  // Tm
    {0x5962, 173.0f},  // Yb
    {0x4C75, 175.0f},  // Lu
    {0x5468, 232.0f},  // Th
    {0x5061, 231.0f},  // Pa
    {0x5520, 238.0f},  // U
    {0x4E70, 237.0f},  // Np
    {0x5075, 242.0f},  // Pu
    {0x416D, 243.0f},  // Am
    {0x436D, 248.0f},  // Cm
    {0x426B, 247.0f},  // Bk
    {0x4366, 251.0f},  // Cf
    {0x4573, 254.0f},  // Es
    {0x466D, 253.0f},  // Fm
    {0x4D64, 256.0f},  // Md
    {0x4E6F, 254.0f},  // No
    {0x4C77, 257.0f},  // Lw
    {0x2323, 0.0f},    // ##
};

bool LookupElementWeight(ElementCode element, float *weight) {
  for (const ElementWeight &row : gElementWeightData) {
    if (row.element == kElementWeightEnd)
      return false;
    if (row.element == element) {
      if (weight)
        *weight = row.weight;
      return true;
    }
  }
  return false;
}
