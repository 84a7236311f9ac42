;calcite (rhombohedral axes)
; This file created by Orvalisphere 1.0.0.
2 (0.8706,0.8663,0.8750)
; Ball-and-stick model
BS
; Atom description for: Ca (site: Ca)
A =  1.000,  0.400 (0.2392,1.0000,0.0000)
; Atom description for: C  (site: C)
B =  0.760,  0.304 (0.5647,0.5647,0.5647)
; Atom description for: O  (site: O)
C =  1.400,  0.560 (1.0000,0.0510,0.0510)
;
A0 :     0.0000     0.0000    -0.0000
A1 :     3.8551     0.0000    -7.6098
A2 :     3.8551     2.4951    -4.4222
A3 :     3.8551    -2.4951    -4.4222
A4 :     7.7103     0.0000    -8.8444
A5 :     0.0000     0.0000    -6.3752
A6 :     3.8551     2.4951   -10.7974
A7 :     3.8551    -2.4951   -10.7974
A8 :     7.7103     0.0000   -15.2196
B0 :     1.9276     0.0000    -3.8049
B1 :     5.7827     0.0000   -11.4147
C0 :     5.7827    -1.2086    -8.2271
C1 :     2.9214    -0.6432    -9.6766
C2 :     4.7888     1.8519    -8.7306
C3 :     1.9276     1.2086    -6.9925
C4 :     4.7888     0.6432    -5.5430
C5 :     2.9214    -1.8519    -6.4890
; bonds
A1, C3
A1, C1
A1, C5
A1, C2
A1, C4
A1, C0
A2, C4
A3, C5
A4, C0
A5, C3
A6, C2
A7, C1
ее calcite (rhombohedral axes)
ее view direction: [0 0 1]
ее This file has been created using Orvalisphere 1.0.0
