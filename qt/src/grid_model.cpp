#include "grid_model.hpp"

#include <algorithm>

namespace harnolfees::qt {

namespace {

// Amounts, percentages, counts and account numbers read best right-aligned;
// dates ("Jul 01, 2005") and descriptions start with a letter.
bool LooksNumeric(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  const char c = text[first];
  return (c >= '0' && c <= '9') || c == '-' || c == '$' || c == '.' || c == '(';
}

}  // namespace

GridModel::GridModel(const Grid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid) {}

int GridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : std::max(0, grid_.Rows() - 1);
}

int GridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : grid_.Cols();
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() + 1 >= grid_.Rows() || index.column() >= grid_.Cols())
    return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
    return QString::fromStdString(grid_.TextMatrix(index.row() + 1, index.column()));
  if (role == Qt::TextAlignmentRole) {
    const auto column = static_cast<std::size_t>(index.column());
    const bool numeric = column < numeric_.size() && numeric_[column];
    return QVariant::fromValue(Qt::AlignVCenter | (numeric ? Qt::AlignRight : Qt::AlignLeft));
  }
  return {};
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= grid_.Cols()) return {};
  return QString::fromStdString(grid_.TextMatrix(0, section)).trimmed();
}

void GridModel::Refresh() {
  beginResetModel();
  // A column reads as its first record does: the values of one column are
  // all of one kind.
  numeric_.assign(static_cast<std::size_t>(std::max(0, grid_.Cols())), false);
  if (grid_.Rows() > 1) {
    for (int c = 0; c < grid_.Cols(); ++c)
      numeric_[static_cast<std::size_t>(c)] = LooksNumeric(grid_.TextMatrix(1, c));
  }
  endResetModel();
}

}  // namespace harnolfees::qt
