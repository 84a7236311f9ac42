;baddeleyite (P 21/c)
; This file created by Orvalisphere 1.0.0.
2 (0.8706,0.8663,0.8750)
; Ball-and-stick model
BS
; Atom description for: Zr (site: Zr)
A =  0.720,  0.288 (0.5804,0.8784,0.8784)
; Atom description for: O  (site: O1)
B =  1.400,  0.560 (1.0000,0.0510,0.0510)
; Atom description for: O  (site: O2)
C =  1.400,  0.560 (1.0000,0.0510,0.0510)
;
A0 :    -1.4001     0.2059    -0.8801
A1 :    -3.6837     2.8117    -0.9524
A2 :    -3.6837     5.0057    -3.6111
A3 :    -1.4001     2.3999    -3.5387
B0 :    -0.3559     1.7287    -1.7750
B1 :    -4.7279     4.3345    -0.0575
B2 :    -4.7279     3.4829    -2.7161
B3 :    -0.3559     0.8771    -4.4337
C0 :    -2.2857     3.9447    -2.1766
C1 :    -2.7981     1.3389     0.3441
C2 :    -2.7981     1.2669    -2.3145
C3 :    -2.2857     3.8727    -4.8353
; bonds
A0, C1
A0, C2
A0, B0
A1, B1
A1, B2
A1, C1
A1, C2
A1, C0
A2, B2
A2, C0
A2, C3
A3, C2
A3, C0
A3, C3
A3, B0
A3, B3
ее baddeleyite (P 21/c)
ее view direction: [0 0 1]
ее This file has been created using Orvalisphere 1.0.0
