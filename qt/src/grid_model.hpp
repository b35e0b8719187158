// A table model over the control's grid model: no widget or item per cell, so
// that large fee histories scroll smoothly. Grid row 0 is the header row.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "harnolfees/surface.hpp"

namespace harnolfees::qt {

class GridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit GridModel(const Grid& grid, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  // Cell texts as the control wrote them; numbers right-aligned.
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Re-reads the whole grid: many cell writes arrive as one refresh.
  void Refresh();

 private:
  const Grid& grid_;
  std::vector<bool> numeric_;  // per column: right-aligned
};

}  // namespace harnolfees::qt
