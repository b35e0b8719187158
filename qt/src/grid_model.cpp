#include "grid_model.hpp"

namespace harnolfees::qt {

GridModel::GridModel(const Grid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid) {}

int GridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max(0, grid_.Rows() - 1);
}

int GridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : grid_.Cols();
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
  if (index.row() + 1 >= grid_.Rows() || index.column() >= grid_.Cols()) return {};
  return QString::fromStdString(grid_.TextMatrix(index.row() + 1, index.column()));
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= grid_.Cols()) return {};
  return QString::fromStdString(grid_.TextMatrix(0, section)).trimmed();
}

void GridModel::Refresh() {
  beginResetModel();
  endResetModel();
}

}  // namespace harnolfees::qt
