#include "editing/SiteTableModel.h"

#include <algorithm>

namespace {

constexpr const char *kNotApplicable = "   .   ";

const uint32_t kCrystalColumns[] = {kSiteColumnLabel, kSiteColumnOccupancy, kSiteColumnX,    kSiteColumnY,
                                    kSiteColumnZ,     kSiteColumnType,      kSiteColumnUiso, kSiteColumnU[0],
                                    kSiteColumnU[1],  kSiteColumnU[2],      kSiteColumnU[3], kSiteColumnU[4],
                                    kSiteColumnU[5]};
const uint32_t kMoleculeColumns[] = {kSiteColumnLabel, kSiteColumnOccupancy, kSiteColumnCartX, kSiteColumnCartY,
                                     kSiteColumnCartZ, kSiteColumnType,      kSiteColumnUiso,  kSiteColumnU[0],
                                     kSiteColumnU[1],  kSiteColumnU[2],      kSiteColumnU[3],  kSiteColumnU[4],
                                     kSiteColumnU[5]};
constexpr int kColumnCount = 13;
const char *const kColumnTitles[kColumnCount] = {"Label", "Element", "x",   "y",   "z",   "Type", "Uiso",
                                                 "U11",   "U22",     "U33", "U23", "U13", "U12"};

// Row and column of the tensor element each U column shows.
constexpr int kUIndex[6][2] = {{0, 0}, {1, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}};

int UColumn(uint32_t code) {
  for (int i = 0; i < 6; i++)
    if (code == kSiteColumnU[i])
      return i;
  return -1;
}

bool HasTensor(const EditSiteRec &s) {
  return s.displacementType == kDisplacementAnisoU || s.displacementType == kDisplacementAnisoB;
}

// The value a numeric column sorts by.
float SortValue(const EditSiteRec &s, uint32_t code) {
  if (code == kSiteColumnX || code == kSiteColumnCartX)
    return s.x;
  if (code == kSiteColumnY || code == kSiteColumnCartY)
    return s.y;
  if (code == kSiteColumnZ || code == kSiteColumnCartZ)
    return s.z;
  if (code == kSiteColumnUiso)
    return s.Uiso;
  if (int u = UColumn(code); u >= 0)
    return s.U[kUIndex[u][0]][kUIndex[u][1]];
  return 0.0f;
}

} // namespace

const char *DisplacementTypeTitle(int type) {
  static const char *const kTitles[4] = {"None", "Uiso", "Uij", "Bij"};
  return kTitles[std::clamp(type, 0, 3)];
}

bool MyBooleanCompareSiteLabels(std::string_view a, std::string_view b) { return MyIntegerCompareSiteLabels(a, b) < 0; }

SiteTableModel::SiteTableModel(EditCrystalRec *record, QObject *parent)
    : QAbstractTableModel(parent), record_(record) {}

int SiteTableModel::ColumnCountFor(bool) { return kColumnCount; }

uint32_t SiteTableModel::ColumnCode(bool molecule, int column) {
  if (column < 0 || column >= kColumnCount)
    return 0;
  return molecule ? kMoleculeColumns[column] : kCrystalColumns[column];
}

int SiteTableModel::ColumnOf(uint32_t code) const {
  for (int c = 0; c < kColumnCount; c++)
    if (ColumnCode(record_->isMolecule, c) == code)
      return c;
  return -1;
}

int SiteTableModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(record_->sites.size());
}

int SiteTableModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : kColumnCount; }

std::string SiteTableModel::CellText(int row, uint32_t code) const {
  const EditSiteRec &s = record_->sites[static_cast<size_t>(row)];
  if (code == kSiteColumnLabel)
    return s.label;
  if (code == kSiteColumnOccupancy)
    return s.selected ? OccupancyStringForSite(s, true) : SubscriptDigits(OccupancyStringForSite(s, false));
  if (code == kSiteColumnX || code == kSiteColumnY || code == kSiteColumnZ)
    return MyTrimSprintf("%9.6f", SortValue(s, code));
  if (code == kSiteColumnCartX || code == kSiteColumnCartY || code == kSiteColumnCartZ)
    return MyTrimSprintf("%10.4f", SortValue(s, code));
  if (code == kSiteColumnType)
    return DisplacementTypeTitle(s.displacementType);
  if (code == kSiteColumnUiso)
    return s.displacementType == kDisplacementIsotropic ? MyTrimSprintf("%8.5f", s.Uiso) : kNotApplicable;
  if (UColumn(code) >= 0)
    return HasTensor(s) ? MyTrimSprintf("%8.5f", SortValue(s, code)) : kNotApplicable;
  return {};
}

bool SiteTableModel::StoreCellText(int row, uint32_t code, const std::string &text) {
  if (row < 0 || row >= rowCount())
    return false;
  EditSiteRec &s = record_->sites[static_cast<size_t>(row)];
  if (code == kSiteColumnLabel) {
    SetTypedSiteLabel(&s, text);
  } else if (code == kSiteColumnOccupancy) {
    if (!ParseOccupancyText(text, &s))
      return false;
  } else if (code == kSiteColumnX) {
    s.x = ReadFractionalCoordinate(text);
  } else if (code == kSiteColumnY) {
    s.y = ReadFractionalCoordinate(text);
  } else if (code == kSiteColumnZ) {
    s.z = ReadFractionalCoordinate(text);
  } else if (code == kSiteColumnCartX) {
    s.x = static_cast<float>(CharsToReal(text));
  } else if (code == kSiteColumnCartY) {
    s.y = static_cast<float>(CharsToReal(text));
  } else if (code == kSiteColumnCartZ) {
    s.z = static_cast<float>(CharsToReal(text));
  } else if (code == kSiteColumnUiso) {
    s.Uiso = static_cast<float>(CharsToReal(text));
  } else if (int u = UColumn(code); u >= 0) {
    if (!HasTensor(s))
      return false;
    const float v = static_cast<float>(CharsToReal(text));
    s.U[kUIndex[u][0]][kUIndex[u][1]] = v;
    s.U[kUIndex[u][1]][kUIndex[u][0]] = v;
  } else {
    return false;
  }
  RowChanged(row);
  return true;
}

QVariant SiteTableModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rowCount())
    return {};
  const uint32_t code = ColumnCode(record_->isMolecule, index.column());
  if (role == Qt::DisplayRole)
    return QString::fromStdString(CellText(index.row(), code));
  if (role == Qt::EditRole) {
    const EditSiteRec &s = record_->sites[static_cast<size_t>(index.row())];
    if (code == kSiteColumnType)
      return s.displacementType;
    if (code == kSiteColumnOccupancy)
      return QString::fromStdString(OccupancyStringForSite(s, true));
    return QString::fromStdString(CellText(index.row(), code)).trimmed();
  }
  if (role == Qt::TextAlignmentRole && code != kSiteColumnLabel && code != kSiteColumnOccupancy &&
      code != kSiteColumnType)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant SiteTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumnCount) {
    if (record_->isMolecule && section >= 2 && section <= 4)
      return QString("%1 (Å)").arg(kColumnTitles[section]);
    return QString(kColumnTitles[section]);
  }
  return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags SiteTableModel::flags(const QModelIndex &index) const {
  if (!index.isValid())
    return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

bool SiteTableModel::setData(const QModelIndex &index, const QVariant &value, int role) {
  if (!index.isValid() || role != Qt::EditRole)
    return false;
  const uint32_t code = ColumnCode(record_->isMolecule, index.column());
  if (code == kSiteColumnType) {
    EditSiteRec &s = record_->sites[static_cast<size_t>(index.row())];
    s.displacementType = std::clamp(value.toInt(), 0, 3);
    RowChanged(index.row());
    return true;
  }
  return StoreCellText(index.row(), code, value.toString().toStdString());
}

void SiteTableModel::sort(int column, Qt::SortOrder order) {
  const uint32_t code = ColumnCode(record_->isMolecule, column);
  if (!code)
    return;
  auto less = [code](const EditSiteRec &a, const EditSiteRec &b) {
    if (code == kSiteColumnLabel)
      return MyBooleanCompareSiteLabels(a.label, b.label);
    if (code == kSiteColumnOccupancy)
      return a.elements[0] < b.elements[0];
    if (code == kSiteColumnType)
      return a.displacementType < b.displacementType;
    return SortValue(a, code) < SortValue(b, code);
  };
  beginResetModel();
  if (order == Qt::AscendingOrder)
    std::stable_sort(record_->sites.begin(), record_->sites.end(), less);
  else
    std::stable_sort(record_->sites.begin(), record_->sites.end(),
                     [&less](const EditSiteRec &a, const EditSiteRec &b) { return less(b, a); });
  endResetModel();
}

void SiteTableModel::AppendSite(const EditSiteRec &site) {
  const int row = rowCount();
  beginInsertRows({}, row, row);
  record_->sites.push_back(site);
  record_->siteCount = static_cast<int32_t>(record_->sites.size());
  endInsertRows();
}

void SiteTableModel::RemoveSelected() {
  beginResetModel();
  RemoveSelectedEditSites(record_);
  endResetModel();
}

void SiteTableModel::RowChanged(int row) { emit dataChanged(index(row, 0), index(row, kColumnCount - 1)); }

void SiteTableModel::ColumnChanged(int column) {
  if (rowCount() > 0)
    emit dataChanged(index(0, column), index(rowCount() - 1, column));
}
