// The site browser on a tree view: our own item model over the rows of
// SiteBrowserData.h, a delegate that draws the colour swatches and opens the
// colour picker, and the view that keeps the element rows' expansion in the
// window's expansion list.
//
// Two kinds exist: the one in each structure window's sidebar (its own
// window, no coordination column) and the one in the info window (the front
// structure window, all six columns).
#pragma once

#include "HostServices.h"
#include "SiteBrowserData.h"

#include <QAbstractItemModel>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <map>
#include <tuple>
#include <vector>

class SiteBrowserModel : public QAbstractItemModel {
  Q_OBJECT
public:
  // `window` none: the front structure window.
  SiteBrowserModel(WindowRef window, bool showCoordination, QObject *parent = nullptr);

  // The structure window whose sites show.
  WindowRef Window() const;
  const CrystalRec *Crystal() const;
  // Takes new rows: the same rows only change their cells, other rows
  // replace the old ones. Sorted by the current sort column.
  void Refill(std::vector<SiteBrowserRow> rows);
  void HideCoordinationColumn();
  // The column's property code, 0 for none; and back.
  uint32_t ColumnProperty(int column) const;
  int ColumnOf(uint32_t property) const;
  uint32_t ItemOf(const QModelIndex &index) const;
  QModelIndex IndexOf(uint32_t item, int column = 0) const;
  const std::vector<SiteBrowserRow> &Rows() const { return rows_; }

  QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
  QModelIndex parent(const QModelIndex &child) const override;
  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  bool setData(const QModelIndex &index, const QVariant &value, int role) override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order) override;

private:
  void SortRows();
  // An icon's look: the sphere picture, the colour, whether the site shows.
  using IconKey = std::tuple<const void *, uint16_t, uint16_t, uint16_t, bool>;
  mutable std::map<IconKey, QPixmap> icons_;
  WindowRef window_;
  std::vector<uint32_t> columns_;
  std::vector<SiteBrowserRow> rows_;
  uint32_t sortProperty_ = kSiteColumn;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

// Swatches in the colour column: a click inside the swatch opens the picker.
class SiteBrowserDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
  QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
  bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
  // The swatch of a colour cell.
  static QRect SwatchRect(const QRect &cell);

private:
  QPersistentModelIndex pressed_;
};

class SiteBrowserView : public QTreeView {
  Q_OBJECT
public:
  SiteBrowserView(WindowRef window, bool showCoordination, QWidget *parent = nullptr);
  SiteBrowserModel *Model() const { return model_; }
  // Rebuilds the rows from the window's structure and reopens the element
  // rows the expansion list holds open.
  void Refill();

protected:
  // Ctrl with the primary button is the secondary click: the pane's menu.
  void mousePressEvent(QMouseEvent *event) override;

private:
  SiteBrowserModel *model_;
  bool refilling_ = false;
};

// The view set up as the site browser: font, columns, sorting, row height.
void InitSiteBrowser(SiteBrowserView *browser);
void SiteBrowserHideCNColumn(SiteBrowserView *browser);
// The window's sidebar browser, none when it has none.
SiteBrowserView *GetGraphicsWindowSiteBrowserView(WindowRef window);
// The structure window a browser belongs to.
WindowRef GetGraphicsWindowFromBrowser(const SiteBrowserView *browser);
// Refills the window's sidebar browser and, for the front window, the info
// window's browser; then redraws the info window's status bar.
void DoUpdateSiteBrowser(WindowRef window);
// Builds a sidebar browser in the window's atoms pane.
void InitAtomsPaneBrowser(WindowRef window, QWidget *atomsContainer);
