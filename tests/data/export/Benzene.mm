;Benzene
; This file created by Orvalisphere 1.0.0.
2 (0.8706,0.8663,0.8750)
; Ball-and-stick model
BS
; Atom description for: C  (site: C1)
A =  0.760,  0.304 (0.5647,0.5647,0.5647)
; Atom description for: C  (site: C2)
B =  0.760,  0.304 (0.5647,0.5647,0.5647)
; Atom description for: C  (site: C3)
C =  0.760,  0.304 (0.5647,0.5647,0.5647)
; Atom description for: C  (site: C4)
D =  0.760,  0.304 (0.5647,0.5647,0.5647)
; Atom description for: C  (site: C5)
E =  0.760,  0.304 (0.5647,0.5647,0.5647)
; Atom description for: C  (site: C6)
F =  0.760,  0.304 (0.5647,0.5647,0.5647)
; Atom description for: H  (site: H1)
G =  0.310,  0.200 (1.0000,1.0000,1.0000)
; Atom description for: H  (site: H2)
H =  0.310,  0.200 (1.0000,1.0000,1.0000)
; Atom description for: H  (site: H3)
I =  0.310,  0.200 (1.0000,1.0000,1.0000)
; Atom description for: H  (site: H4)
J =  0.310,  0.200 (1.0000,1.0000,1.0000)
; Atom description for: H  (site: H5)
K =  0.310,  0.200 (1.0000,1.0000,1.0000)
; Atom description for: H  (site: H6)
L =  0.310,  0.200 (1.0000,1.0000,1.0000)
;
A0 :     1.3914     0.0000     0.0000
B0 :     0.6957     1.2050     0.0000
C0 :    -0.6957     1.2050     0.0000
D0 :    -1.3914     0.0000     0.0000
E0 :    -0.6957    -1.2050     0.0000
F0 :     0.6957    -1.2050     0.0000
G0 :     2.4716     0.0000     0.0000
H0 :     1.2358     2.1405     0.0000
I0 :    -1.2358     2.1405     0.0000
J0 :    -2.4716     0.0000     0.0000
K0 :    -1.2358    -2.1405     0.0000
L0 :     1.2358    -2.1405     0.0000
; bonds
A0, B0
A0, F0
A0, G0
B0, C0
B0, H0
C0, D0
C0, I0
D0, E0
D0, J0
E0, F0
E0, K0
F0, L0
ее Benzene
ее This file has been created using Orvalisphere 1.0.0
