// The atom types a molecule has after hydrogens are added to it.
#include "RelaxWindowSupport.h"

#include "relax/SaturateMolecule.h"

using namespace relaxtest;

TEST_F(RelaxWindowTest, SaturatingAMoleculeWithoutHydrogenAddsAHydrogenTypeAndKeepsTheOthers) {
  SetMolecule({{"C ", 0, 0, 0}, {"C ", 1.54f, 0, 0}}, {{0, 1}});
  EXPECT_EQ(RelaxMenuCommand(kCmdSaturateMolecule, ref()), 0);
  ASSERT_TRUE(RunUntilAllJoined());
  const CrystalRec &c = crystal();
  ASSERT_EQ(c.atomCount, 8); // ethane
  ASSERT_EQ(c.sphereCount, 3);
  const ElementCode kH = TwoCharsToShort("H "), kC = TwoCharsToShort("C ");
  int hydrogens = 0;
  for (const AtomRecord &a : c.atoms) {
    ASSERT_LT(a.atomType, c.spheres.size());
    const SphereRecord &type = c.spheres[a.atomType];
    const ElementCode element = c.sites[a.site].elements[0];
    EXPECT_EQ(type.element, element) << "every atom draws as its own element";
    if (element == kH) {
      ++hydrogens;
      // The covalent radius of hydrogen, 0.31 A, drawn white.
      EXPECT_FLOAT_EQ(type.radius, 0.31f);
      EXPECT_EQ(type.colour, (RGBColor{65535, 65535, 65535}));
    } else {
      EXPECT_EQ(element, kC);
    }
  }
  EXPECT_EQ(hydrogens, 6);
}
