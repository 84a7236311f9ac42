#include "NewtonMinimiser.h"

#include "RelaxEnergies.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

namespace {

using Mat3 = double[3][3];

inline double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

inline void DiffAt(const double *x, int32_t from, int32_t to, double out[3]) {
  for (int k = 0; k < 3; ++k)
    out[k] = x[3 * to + k] - x[3 * from + k];
}

// Where each derivative lands: a term's atoms and, per atom, its coefficient
// in each of the term's difference vectors (d = Σ c_atom x_atom).
struct Jacobian {
  int count = 0;
  int32_t slot[3] = {0, 0, 0};
  double c[2][3] = {{0, 0, 0}, {0, 0, 0}};
};

// First derivatives of E with respect to the term's difference vectors
// (grad[v]) and the second derivatives between them (hess[v][w]).
struct TermDerivatives {
  double grad[2][3] = {};
  Mat3 hess[2][2] = {};
};

// Adds g -= dE/dx for the term.
void ScatterGradient(const Jacobian &jac, int vectors, const TermDerivatives &d, double *g) {
  for (int p = 0; p < jac.count; ++p)
    for (int v = 0; v < vectors; ++v)
      for (int k = 0; k < 3; ++k)
        g[3 * jac.slot[p] + k] -= jac.c[v][p] * d.grad[v][k];
}

void ScatterHessian(const Jacobian &jac, int vectors, const TermDerivatives &d, SquareMatrix H) {
  for (int p = 0; p < jac.count; ++p)
    for (int q = 0; q < jac.count; ++q)
      for (int v = 0; v < vectors; ++v)
        for (int w = 0; w < vectors; ++w) {
          const double f = jac.c[v][p] * jac.c[w][q];
          if (f == 0.0)
            continue;
          for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
              H[3 * jac.slot[p] + i][3 * jac.slot[q] + j] += f * d.hess[v][w][i][j];
        }
}

// A function of the length of d: gradient E' u and Hessian E'' u uᵀ + E'/r (I - u uᵀ).
bool RadialTerm(const double d[3], const RadialDerivatives &f, double r, TermDerivatives &out) {
  if (r <= 0.0)
    return false;
  double u[3];
  for (int k = 0; k < 3; ++k) {
    u[k] = d[k] / r;
    out.grad[0][k] = f.d1 * u[k];
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      out.hess[0][0][i][j] = f.d2 * u[i] * u[j] + f.d1 / r * ((i == j ? 1.0 : 0.0) - u[i] * u[j]);
  return true;
}

// E(c), c the cosine between a and b.
bool AngleDerivatives(const ThreeBodyTerm &t, const double a[3], const double b[3], TermDerivatives &out) {
  const double p = std::sqrt(Dot(a, a)), q = std::sqrt(Dot(b, b));
  if (p == 0.0 || q == 0.0)
    return false;
  const double c = Dot(a, b) / (p * q);
  const bool linear = t.cosTheta0 == -1.0;
  const double e1 = linear ? kRelaxLinearAngleScale : 2 * kRelaxAngleScale * t.k * (c - t.cosTheta0);
  const double e2 = linear ? 0.0 : 2 * kRelaxAngleScale * t.k;
  double ca[3], cb[3];
  for (int k = 0; k < 3; ++k) {
    ca[k] = b[k] / (p * q) - c * a[k] / (p * p);
    cb[k] = a[k] / (p * q) - c * b[k] / (q * q);
    out.grad[0][k] = e1 * ca[k];
    out.grad[1][k] = e1 * cb[k];
  }
  const double p2 = p * p, q2 = q * q;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double delta = i == j ? 1.0 : 0.0;
      const double haa = -(b[i] * a[j] + a[i] * b[j]) / (p2 * p * q) + 3 * c * a[i] * a[j] / (p2 * p2) - c * delta / p2;
      const double hbb = -(a[i] * b[j] + b[i] * a[j]) / (q2 * q * p) + 3 * c * b[i] * b[j] / (q2 * q2) - c * delta / q2;
      const double hab = delta / (p * q) - b[i] * b[j] / (p * q2 * q) - a[i] * a[j] / (p2 * p * q) +
                         c * a[i] * b[j] / (p2 * q2);
      out.hess[0][0][i][j] = e2 * ca[i] * ca[j] + e1 * haa;
      out.hess[1][1][i][j] = e2 * cb[i] * cb[j] + e1 * hbb;
      out.hess[0][1][i][j] = e2 * ca[i] * cb[j] + e1 * hab;
      out.hess[1][0][j][i] = out.hess[0][1][i][j];
    }
  return true;
}

// Visits every term of the three energies with its Jacobian and derivatives.
template <typename Visit>
void ForEachTermDerivative(const double *x, const RelaxMoleculeData &rec, Visit visit) {
  for (const PairTerm &t : rec.pairs) {
    double d[3];
    DiffAt(x, t.slotA, t.slotB, d);
    const double r = std::sqrt(Dot(d, d));
    TermDerivatives td;
    if (!RadialTerm(d, PairRadial(t, r), r, td))
      continue;
    Jacobian jac{2, {t.slotA, t.slotB, 0}, {{-1, 1, 0}, {0, 0, 0}}};
    visit(jac, 1, td);
  }
  for (const ThreeBodyTerm &t : rec.threes) {
    double a[3], b[3];
    DiffAt(x, t.slotJ, t.slotI, a);
    DiffAt(x, t.slotJ, t.slotK, b);
    TermDerivatives td;
    if (!AngleDerivatives(t, a, b, td))
      continue;
    Jacobian jac{3, {t.slotI, t.slotJ, t.slotK}, {{1, -1, 0}, {0, -1, 1}}};
    visit(jac, 2, td);
  }
  for (const NonBondedTerm &t : rec.nonBonded) {
    double d[3];
    DiffAt(x, t.slotI, t.slotJ, d);
    const double r = std::sqrt(Dot(d, d));
    if (r <= 0.0)
      continue;
    const RadialDerivatives lj = LennardJonesRadial(t.sigma, t.epsilon, r);
    const RadialDerivatives co = ScreenedCoulombRadial(t.zz, r);
    TermDerivatives td;
    RadialTerm(d, {lj.e + co.e, lj.d1 + co.d1, lj.d2 + co.d2}, r, td);
    Jacobian jac{2, {t.slotI, t.slotJ, 0}, {{-1, 1, 0}, {0, 0, 0}}};
    visit(jac, 1, td);
  }
}

void PrintVector(const char *title, const char *format, const double *v, int n) {
  std::fputs(title, stderr);
  for (int i = 0; i < n; ++i)
    std::fprintf(stderr, format, static_cast<long>(i), v[i]);
}

} // namespace

void UpdateLocalCoordinates(double *x, int n, const RelaxMoleculeData &record) {
  for (int a = 0; a < n / 3; ++a) {
    x[3 * a] = record.atoms[a].x;
    x[3 * a + 1] = record.atoms[a].y;
    x[3 * a + 2] = record.atoms[a].z;
  }
}

void EvaluateGradient(const double *x, double *g, int n, const RelaxMoleculeData &record) {
  for (int i = 0; i < n; ++i)
    g[i] = 0.0;
  ForEachTermDerivative(x, record, [&](const Jacobian &jac, int vectors, const TermDerivatives &d) {
    ScatterGradient(jac, vectors, d, g);
  });
}

void EvaluateHessian(const double *x, SquareMatrix H, int n, const RelaxMoleculeData &record) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      H[i][j] = 0.0;
  ForEachTermDerivative(x, record, [&](const Jacobian &jac, int vectors, const TermDerivatives &d) {
    ScatterHessian(jac, vectors, d, H);
  });
}

double EvaluateNewtonEnergy(const double *x, int, const RelaxMoleculeData &record) {
  double e = 0.0;
  for (const PairTerm &t : record.pairs) {
    double d[3];
    DiffAt(x, t.slotA, t.slotB, d);
    e += PairTermEnergy(t, d);
  }
  for (const ThreeBodyTerm &t : record.threes) {
    double a[3], b[3];
    DiffAt(x, t.slotJ, t.slotI, a);
    DiffAt(x, t.slotJ, t.slotK, b);
    e += AngleTermEnergy(t, a, b);
  }
  for (const NonBondedTerm &t : record.nonBonded) {
    double d[3];
    DiffAt(x, t.slotI, t.slotJ, d);
    e += NonBondedTermEnergy(t, std::sqrt(Dot(d, d)));
  }
  return e;
}

void UpdateCoordinates(double *x, double *dx, int n, RelaxMoleculeData &record) {
  for (int i = 0; i < n; ++i) {
    if (dx[i] > kNewtonMaxDisplacement)
      dx[i] = kNewtonMaxDisplacement;
    else if (dx[i] < -kNewtonMaxDisplacement)
      dx[i] = -kNewtonMaxDisplacement;
    x[i] += kNewtonDamping * dx[i];
  }
  for (int a = 0; a < n / 3; ++a) {
    RelaxAtom &atom = record.atoms[a];
    atom.x += kNewtonDamping * dx[3 * a];
    atom.y += kNewtonDamping * dx[3 * a + 1];
    atom.z += kNewtonDamping * dx[3 * a + 2];
  }
}

bool CheckConvergence(const double *dx, int n) {
  for (int i = 0; i < n; ++i)
    if (std::fabs(dx[i]) > kNewtonConvergence)
      return false;
  return true;
}

double EvaluateFunction(const double point[2]) {
  const double x = point[0], y = point[1];
  return (y - 2) * (y - 2) * (y - 2) * (y - 2) + x * x * y + x * x;
}

int RelaxMoleculeLS(RelaxMoleculeData &record) {
  const int n = 3 * record.AtomCount();
  if (n == 0)
    return 0;
  SquareMatrix H = CreateSquareMatrix(n);
  std::vector<double> x, g, dx;
  try {
    x.resize(n);
    g.resize(n);
    dx.resize(n);
  } catch (const std::bad_alloc &) {
    DestroySquareMatrix(H, n);
    H = nullptr;
  }
  if (!H) {
    RelaxWriteLine(record, "malloc() failed at allocation of memory for gradient or displacement arrays.");
    return -1;
  }
  int result = 0;
  for (int i = 0; i < kNewtonIterations; ++i) {
    char line[kRelaxMessageLength];
    if (RelaxStopRequested(record)) {
      std::snprintf(line, sizeof line, "Run terminated at least-squares iteration %d", i);
      RelaxWriteLine(record, line);
      break;
    }
    UpdateLocalCoordinates(x.data(), n, record);
    EvaluateGradient(x.data(), g.data(), n, record);
    EvaluateHessian(x.data(), H, n, record);
    for (int k = 0; k < n; ++k) {
      H[k][k] += kNewtonDiagonalShift;
      if (record.atoms[k / 3].fixed) {
        // A fixed atom keeps its place: its coordinates decouple with no force.
        for (int j = 0; j < n; ++j)
          H[k][j] = H[j][k] = 0.0;
        H[k][k] = 1.0;
        g[k] = 0.0;
      }
    }
    if (!SimultaneousLinearEquationSolver(H, g.data(), dx.data(), n)) {
      RelaxWriteLine(record, "Inversion of Hessian failed...");
      result = -1;
      break;
    }
    PrintVector("\n Initial Coordinates\n", "%4ld %4.3f \n", x.data(), n);
    PrintVector("\n Displacements\n", "%4ld %8.3f \n", dx.data(), n);
    UpdateCoordinates(x.data(), dx.data(), n, record);
    PrintVector("\n Displacements\n", "%4ld %8.3f \n", dx.data(), n);
    PrintVector("\n Updated Coordinates \n", "%4ld %4.3f \n", x.data(), n);
    if (record.requestPlot)
      record.requestPlot(record);
    if (CheckConvergence(dx.data(), n)) {
      RelaxWriteLine(record, ":-D");
      std::snprintf(line, sizeof line, "Calculation finished after %d iterations", i + 1);
      RelaxWriteLine(record, line);
      break;
    }
    RelaxWriteLine(record, ":-|");
  }
  DestroySquareMatrix(H, n);
  return result;
}
