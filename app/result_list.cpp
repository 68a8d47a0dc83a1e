#include "app/result_list.h"

#include <QHeaderView>

namespace kestrafin::app {

int ResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_rows_);
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
        index.column() != 0 || static_cast<std::size_t>(index.row()) >= shown_rows_)
        return {};
    const std::string_view text = store_.text(static_cast<std::size_t>(index.row()));
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section == 0)
        return QStringLiteral("FILE PATHS AND NAMES");
    return QAbstractListModel::headerData(section, orientation, role);
}

void ResultListModel::show_added_rows() {
    const std::size_t total = store_.size();
    if (total <= shown_rows_) return;
    beginInsertRows({}, static_cast<int>(shown_rows_), static_cast<int>(total - 1));
    shown_rows_ = total;
    endInsertRows();
}

void ResultListModel::clear() {
    beginResetModel();
    store_.clear();
    shown_rows_ = 0;
    endResetModel();
}

void ResultListModel::replace(EntryStore&& entries) {
    beginResetModel();
    store_ = std::move(entries);
    shown_rows_ = store_.size();
    endResetModel();
}

ResultListView::ResultListView(QWidget* parent) : QTreeView(parent), model_(this), items_(model_) {
    setModel(&model_);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setTextElideMode(Qt::ElideMiddle);
    header()->setStretchLastSection(true);
    header()->setSectionsClickable(false);
}

}  // namespace kestrafin::app
