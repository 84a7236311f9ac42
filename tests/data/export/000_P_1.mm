;000 P 1
; This file created by Orvalisphere 1.0.0.
2 (0.8706,0.8663,0.8750)
; Ball-and-stick model
BS
; Atom description for: C  (site: C1)
A =  0.760,  0.304 (0.5647,0.5647,0.5647)
; Atom description for: N  (site: N1)
B =  1.460,  0.584 (0.1882,0.3137,0.9725)
; Atom description for: O  (site: O1)
C =  1.400,  0.560 (1.0000,0.0510,0.0510)
; Atom description for: C  (site: C2)
D =  0.760,  0.304 (0.5647,0.5647,0.5647)
; Atom description for: C  (site: C3)
E =  0.760,  0.304 (0.5647,0.5647,0.5647)
;
A0 :     2.9789     3.5041    -2.7427
B0 :     0.8071     1.5915    -2.6805
C0 :    -0.3928     0.6418    -1.7342
C1 :     5.4882     2.6747    -2.7197
D0 :     2.9789     3.5041    -2.7427
E0 :     2.9789     3.5041    -2.7427
; bonds
ее 000 P 1
ее view direction: [0 0 1]
ее This file has been created using Orvalisphere 1.0.0
