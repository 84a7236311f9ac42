#!/usr/bin/python3
"""Writes resources/images/MoleToCrystalAxes.png, the picture of the
Molecule to Crystal sheet: a small molecule in the box of its extents, with
the screen axes x (along the new a), y and z that the extents are measured
along.

Rerun from the top folder with:  /usr/bin/python3 tools/make_molecule_axes.py
(needs ImageMagick's convert and the DejaVu Sans font).
"""

import os
import subprocess

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'resources', 'images',
                   'MoleToCrystalAxes.png')

ATOMS = [(70, 62, 9, '#d03030'), (94, 50, 7, '#909090'), (96, 76, 7, '#909090'), (50, 48, 6, '#e8e8e8'),
         (52, 78, 6, '#e8e8e8')]
BONDS = [(0, 1), (0, 2), (0, 3), (0, 4)]


def main():
    draw = ['-stroke', '#404040', '-strokewidth', '1', '-fill', 'none', '-draw', 'rectangle 36,34 112,92']
    draw += ['-stroke', '#707070', '-strokewidth', '3']
    for i, j in BONDS:
        draw += ['-draw', 'line %d,%d %d,%d' % (ATOMS[i][0], ATOMS[i][1], ATOMS[j][0], ATOMS[j][1])]
    draw += ['-stroke', '#303030', '-strokewidth', '1']
    for x, y, r, colour in ATOMS:
        draw += ['-fill', colour, '-draw', 'circle %d,%d %d,%d' % (x, y, x + r, y)]
    # Axes from the lower left corner: x to the right, y up, z towards the viewer.
    draw += ['-stroke', '#2050c0', '-strokewidth', '2', '-fill', '#2050c0',
             '-draw', 'line 14,100 140,100', '-draw', 'polygon 146,100 138,96 138,104',
             '-draw', 'line 14,100 14,12', '-draw', 'polygon 14,6 10,14 18,14',
             '-draw', 'line 14,100 36,78', '-draw', 'polygon 40,74 31,77 37,83']
    text = ['-stroke', 'none', '-fill', '#2050c0', '-font', 'DejaVu-Sans', '-pointsize', '12',
            '-draw', "text 122,116 'x (a)'", '-draw', "text 20,14 'y'", '-draw', "text 40,72 'z'"]
    subprocess.run(['convert', '-size', '160x122', 'xc:white', *draw, *text, OUT], check=True)


if __name__ == '__main__':
    main()
